#!/usr/bin/env bash
# Compressed copies: `sveltery --precompress -r` over a tree, side by side with what a user's shell
# does for the same copies after a plain run: `find | xargs -P<cores> brotli -q 11 -k` and the
# same with `libdeflate-gzip -12 -k` (the encoders sveltery uses) over the outputs of the kinds
# sveltery compresses, 512 bytes and up. Runs alternate, each into fresh directories; prints each
# run, the median of both, then the sizes of the copies against `brotli -q 11` and `gzip -9` on
# the same html, css and js outputs.
# Usage: bench/precompress.sh [tree] [runs]   (default: ../shared/corpus, 3 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
tree=${1:-../shared/corpus}
runs=${2:-3}
bin=build/release/src/sveltery
[[ -x $bin ]] || { cmake --preset release >/dev/null && cmake --build --preset release --target sveltery >/dev/null; }
for tool in brotli libdeflate-gzip gzip bc; do
  command -v "$tool" >/dev/null || { echo "needs $tool (scripts/test installs it)"; exit 1; }
done
cores=$(nproc)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The kinds sveltery gives copies (src/traverse/compressible.cpp).
kinds=()
for ext in html htm xhtml shtml css js mjs cjs json jsonld geojson map svg xml rss atom xsl txt md \
  csv tsv webmanifest manifest appcache ico wasm ttf otf eot vtt ics bmp; do
  kinds+=(-o -iname "*.$ext")
done
kinds=("${kinds[@]:1}")

now() { date +%s.%N; }
plain_run() { "$bin" -r -o "$1" "$tree" >/dev/null || [[ $? -eq 1 ]]; }
time_ours() {
  sync
  local t0; t0=$(now)
  "$bin" --precompress -r -o "$1" "$tree" >/dev/null || [[ $? -eq 1 ]]
  echo "$(now) - $t0" | bc -l
}
time_shell() {
  sync
  local t0; t0=$(now)
  plain_run "$1"
  find "$1" -type f \( "${kinds[@]}" \) -size +511c -print0 | xargs -0 -r -P"$cores" -n8 brotli -q 11 -k -f
  find "$1" -type f \( "${kinds[@]}" \) -size +511c -print0 | xargs -0 -r -P"$cores" -n8 libdeflate-gzip -12 -k -f
  echo "$(now) - $t0" | bc -l
}
ours=()
shell=()
for ((i = 1; i <= runs; i++)); do
  if ((i % 2)); then
    o=$(time_ours "$scratch/ours$i"); s=$(time_shell "$scratch/shell$i")
  else
    s=$(time_shell "$scratch/shell$i"); o=$(time_ours "$scratch/ours$i")
  fi
  ours+=("$o")
  shell+=("$s")
  printf 'run %d: sveltery --precompress %.2f s, plain run + find | xargs -P%d brotli, libdeflate-gzip %.2f s, ratio %.2f\n' \
    "$i" "$o" "$cores" "$s" "$(echo "$o / $s" | bc -l)"
done
median_of() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
mo=$(median_of "${ours[@]}")
ms=$(median_of "${shell[@]}")
printf 'median over %d runs: sveltery --precompress %.2f s | shell pipeline %.2f s | ratio %.2f\n' \
  "$runs" "$mo" "$ms" "$(echo "$mo / $ms" | bc -l)"

# Sizes, over the html, css and js outputs that got a copy.
out=$scratch/ours1
sum_br=0 peer_br=0 sum_gz=0 peer_gz9=0 files=0
while IFS= read -r -d '' f; do
  base=${f%.br}
  case ${base,,} in *.html | *.htm | *.css | *.js) ;; *) continue ;; esac
  sum_br=$((sum_br + $(stat -c %s "$f")))
  peer_br=$((peer_br + $(brotli -q 11 -c "$base" | wc -c)))
  files=$((files + 1))
done < <(find "$out" -type f -name '*.br' -print0)
while IFS= read -r -d '' f; do
  base=${f%.gz}
  case ${base,,} in *.html | *.htm | *.css | *.js) ;; *) continue ;; esac
  sum_gz=$((sum_gz + $(stat -c %s "$f")))
  peer_gz9=$((peer_gz9 + $(gzip -9 -n -c "$base" | wc -c)))
done < <(find "$out" -type f -name '*.gz' -print0)
printf '.br over %d html, css and js outputs: sveltery %d bytes | brotli -q 11 %d bytes | %+.3f %%\n' \
  "$files" "$sum_br" "$peer_br" "$(echo "($sum_br - $peer_br) * 100 / $peer_br" | bc -l)"
printf '.gz over the same kinds: sveltery %d bytes | gzip -9 %d bytes | %.3fx\n' \
  "$sum_gz" "$peer_gz9" "$(echo "$sum_gz / $peer_gz9" | bc -l)"
