<?php
// Usage: php php_tokens_same.php IN_ROOT OUT_ROOT
// For every PHP page under IN_ROOT (.php, .phtml, .php3) and its namesake under OUT_ROOT: PHP's
// tokenizer must give the same code tokens for both (inline HTML and white space left out, open
// and close tags compared without their white space), and `php -l` must pass for the output
// wherever it passes for the input. Prints one line per page that fails and a summary; the exit
// status is 0 only when every page passes.

if ($argc !== 3) {
    fwrite(STDERR, "usage: php php_tokens_same.php IN_ROOT OUT_ROOT\n");
    exit(2);
}
[, $inRoot, $outRoot] = $argv;
foreach ([$inRoot, $outRoot] as $root) {
    if (!is_dir($root)) {
        fwrite(STDERR, "not a directory: $root\n");
        exit(2);
    }
}

// The code of a page as PHP reads it: token names and texts, nothing that is page text.
function code_tokens(string $source): array
{
    $tags = [T_OPEN_TAG, T_OPEN_TAG_WITH_ECHO, T_CLOSE_TAG];
    $tokens = [];
    foreach (token_get_all($source) as $token) {
        if (!is_array($token)) {
            $tokens[] = $token;
            continue;
        }
        [$id, $text] = $token;
        if ($id === T_INLINE_HTML || $id === T_WHITESPACE) {
            continue;
        }
        $tokens[] = token_name($id) . ' ' . (in_array($id, $tags, true) ? trim($text) : $text);
    }
    return $tokens;
}

function lints(string $path): bool
{
    $command = escapeshellarg(PHP_BINARY) . ' -n -l ' . escapeshellarg($path) . ' 2>&1';
    exec($command, $output, $status);
    return $status === 0;
}

// The first position where two token lists differ, shown with a little context.
function first_difference(array $a, array $b): string
{
    $n = min(count($a), count($b));
    for ($k = 0; $k < $n && $a[$k] === $b[$k]; ++$k) {
    }
    $show = fn (array $t) => json_encode(array_slice($t, $k, 3), JSON_UNESCAPED_SLASHES);
    return "token $k: " . $show($a) . ' became ' . $show($b);
}

$pages = [];
$walk = new RecursiveIteratorIterator(
    new RecursiveDirectoryIterator($inRoot, FilesystemIterator::SKIP_DOTS)
);
foreach ($walk as $file) {
    if ($file->isFile() && preg_match('/\.(php|phtml|php3)$/i', $file->getFilename())) {
        $pages[] = substr($file->getPathname(), strlen($inRoot));
    }
}
sort($pages);

$failed = 0;
foreach ($pages as $relative) {
    $in = $inRoot . $relative;
    $out = $outRoot . $relative;
    $problem = null;
    $outSource = @file_get_contents($out);
    if ($outSource === false) {
        $problem = 'no output';
    } else {
        $a = code_tokens(file_get_contents($in));
        $b = code_tokens($outSource);
        if ($a !== $b) {
            $problem = 'tokens differ at ' . first_difference($a, $b);
        } elseif (!lints($out) && lints($in)) {  // the input is linted only when it matters
            $problem = 'php -l fails on the output only';
        }
    }
    if ($problem !== null) {
        ++$failed;
        echo ltrim($relative, '/'), ": $problem\n";
    }
}
printf("%d of %d PHP pages keep their code\n", count($pages) - $failed, count($pages));
exit($failed === 0 && count($pages) > 0 ? 0 : 1);
