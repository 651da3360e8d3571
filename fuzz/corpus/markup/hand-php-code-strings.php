1<p>  a</p><?php $s = 'it\'s ?>  x'; $t = "?>  \\"; /* ?>  */ # #[A] ?>
  <b>  b</b><?php #[Attr('?>')] $h = <<<EOT
  ?>  {$x}
  EOTX
  EOT;
$n = <<< 'N'
?>  
N; `ls ?>`; // c ?>  <i>  i</i><?php <<<<A
?>  <?php <<<"B
?>  