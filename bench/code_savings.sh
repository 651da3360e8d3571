#!/usr/bin/env bash
# Savings on the corpus's style sheets and scripts: ours (sveltery --safe --css / --js) beside
# esbuild's --minify-whitespace on the same files, and --safe over the corpus's pages.
# Usage: bench/code_savings.sh [SVELTERY] [CORPUS]
# esbuild is not a dependency: install it where this script finds it, e.g.
#   npm install --prefix /tmp/esbuild esbuild   and   ESBUILD=/tmp/esbuild/node_modules/.bin/esbuild
set -euo pipefail
cd "$(dirname "$0")/.."
bin=${1:-build/release/src/sveltery}
corpus=${2:-../shared/corpus}
esbuild=${ESBUILD:-$(command -v esbuild || true)}
[[ -x $bin ]] || { echo "no sveltery at $bin (build the release preset)"; exit 2; }
[[ -d $corpus/code ]] || { echo "no corpus at $corpus/code"; exit 2; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

size() { find "$@" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}'; }
percent() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.1f %%", a ? 100 * (a - b) / a : 0}'; }

printf '%-34s %12s %12s %9s %12s %9s\n' "files" "input" "sveltery" "saved" "esbuild" "saved"
for kind in css js; do
  mapfile -t files < <(find "$corpus/code" -type f -name "*.$kind" | sort)
  in=$(size "${files[@]}")
  "$bin" --safe "--$kind" -r -o "$scratch/ours-$kind" "$corpus/code" >/dev/null || true
  ours=$(size "$scratch/ours-$kind")
  if [[ -n $esbuild ]]; then
    theirs=0
    for f in "${files[@]}"; do
      n=$("$esbuild" --minify-whitespace --loader="$kind" <"$f" 2>/dev/null | wc -c) || n=0
      ((n > 0)) || n=$(stat -c %s "$f")  # a file esbuild rejects counts as kept
      theirs=$((theirs + n))
    done
    printf '%-34s %12d %12d %9s %12d %9s\n' "code/**/*.$kind (${#files[@]})" "$in" "$ours" \
      "$(percent "$in" "$ours")" "$theirs" "$(percent "$in" "$theirs")"
  else
    printf '%-34s %12d %12d %9s %12s %9s\n' "code/**/*.$kind (${#files[@]})" "$in" "$ours" \
      "$(percent "$in" "$ours")" "missing" "-"
  fi
done

# Pages: the safe profile without banners, before and after its style sheets and scripts.
in=$(size "$corpus/html")
"$bin" --safe --no-banner -r -o "$scratch/pages" "$corpus/html" >/dev/null || true
out=$(size "$scratch/pages" -name '*.htm*')
in_pages=$(size "$corpus/html" -name '*.htm*')
printf '%-34s %12d %12d %9s\n' "html pages, --safe --no-banner" "$in_pages" "$out" "$(percent "$in_pages" "$out")"
[[ -n $esbuild ]] || echo "esbuild not found: set ESBUILD to compare (npm install esbuild)"
