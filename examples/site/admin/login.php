<?php
  // Spaces and line breaks inside PHP blocks are kept exactly.
  $title  = "Log in";
  if ($failed) { echo "<p>Try  again</p>"; }
?>
<html>
<head>
  <title><?php echo $title; ?></title>
</head>
<body>
  <form method="post"   action="login.php">
    <input type="text"   name="user">
    <input type="password" name="pass">
  </form>
</body>
</html>
