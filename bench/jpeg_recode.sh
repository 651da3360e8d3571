#!/usr/bin/env bash
# The lossless JPEG re-encoding of `--safe` beside jpegtran's: bytes saved and wall time over a
# tree of JPEGs.
#  - peer: per file, `jpegtran -copy none -optimize` and `jpegtran -copy none -progressive`, the
#    files taken two at a time (`xargs -P2`); per file the shorter output counts, or the input
#    when both fail or come out longer (the choice is made after the clock stops);
#  - ours: `sveltery --safe -j -r` over the tree on the default workers.
# jpegtran drops every segment; this program keeps the colour-transform segment, a colour profile
# that is not sRGB and the orientation. Their bytes are printed, and ours is held to the peer's
# saving less those bytes. Runs alternate; the medians are printed.
# Usage: bench/jpeg_recode.sh [tree] [runs]   (default: ../shared/corpus/jpeg, 5 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
tree=${1:-../shared/corpus/jpeg}
runs=${2:-5}
bin=build/release/src/sveltery
command -v jpegtran >/dev/null || { echo "jpegtran is needed (libjpeg-turbo-progs)" >&2; exit 2; }
[[ -x $bin ]] || { cmake --preset release >/dev/null && cmake --build --preset release --target sveltery >/dev/null; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The files and their numbers: the peer's outputs are named by number, so no name needs quoting.
find "$tree" -type f \( -iname '*.jpg' -o -iname '*.jpeg' \) -print0 | sort -z >"$scratch/list"
files=$(tr -cd '\0' <"$scratch/list" | wc -c)
awk 'BEGIN { RS = "\0"; ORS = "\0" } { print NR; print $0 }' "$scratch/list" >"$scratch/numbered"
cat >"$scratch/peer.sh" <<'PEER'
#!/bin/sh
# $1: output directory, $2: number, $3: input; a failed candidate leaves an empty file.
jpegtran -copy none -optimize "$3" >"$1/$2.o" 2>/dev/null || : >"$1/$2.o"
jpegtran -copy none -progressive "$3" >"$1/$2.p" 2>/dev/null || : >"$1/$2.p"
PEER

now() { date +%s.%N; }
time_peer() {
  mkdir "$1"
  local t0; t0=$(now)
  xargs -0 -n2 -P2 sh "$scratch/peer.sh" "$1" <"$scratch/numbered"
  echo "$(now) - $t0" | bc -l
}
time_ours() {
  local t0; t0=$(now)
  "$bin" --safe -j -r -o "$1" "$tree" >/dev/null || [[ $? -eq 1 ]]
  echo "$(now) - $t0" | bc -l
}
peer_times=()
our_times=()
for ((i = 1; i <= runs; i++)); do
  if ((i % 2)); then
    p=$(time_peer "$scratch/peer$i"); o=$(time_ours "$scratch/ours$i")
  else
    o=$(time_ours "$scratch/ours$i"); p=$(time_peer "$scratch/peer$i")
  fi
  peer_times+=("$p")
  our_times+=("$o")
  printf 'run %d: jpegtran (both, -P2) %.3f s, sveltery --safe -j -r %.3f s\n' "$i" "$p" "$o"
done

# Sizes, from the last run of each. Per file: input, peer's choice, ours, and the bytes of the
# segments ours keeps (APPn in front of the first scan).
python3 - "$scratch/list" "$scratch/peer$runs" "$scratch/ours$runs" "$tree" <<'TALLY'
import os, sys
listing, peer_dir, ours_dir, tree = sys.argv[1:]
paths = [p for p in open(listing, 'rb').read().split(b'\0') if p]
parent = os.path.dirname(os.path.normpath(tree).encode())

def kept_segments(b):
    i, kept = 2, 0
    while i + 4 <= len(b) and b[i] == 0xFF and b[i + 1] != 0xDA:
        length = b[i + 2] << 8 | b[i + 3]
        if 0xE0 <= b[i + 1] <= 0xEF:
            kept += 2 + length
        i += 2 + length
    return kept

total = peer = ours = kept = 0
for n, path in enumerate(paths, 1):
    size = os.path.getsize(path)
    candidates = [os.path.getsize(os.path.join(peer_dir, f'{n}.{k}')) for k in 'op']
    candidates = [c for c in candidates if c > 0]
    peer += min(candidates + [size])
    out = open(os.path.join(ours_dir.encode(), os.path.relpath(path, parent or b'.')), 'rb').read()
    ours += len(out)
    kept += kept_segments(out)
    total += size

def pct(saved):
    return 100.0 * saved / total if total else 0.0

print(f'{len(paths)} files, {total} bytes')
print(f'saved by jpegtran -copy none, -optimize or -progressive, keep-smaller: '
      f'{total - peer} bytes ({pct(total - peer):.2f} %)')
print(f'saved by sveltery --safe -j:                                       '
      f'{total - ours} bytes ({pct(total - ours):.2f} %)')
print(f'segments sveltery keeps (Adobe, wide-gamut profile, orientation):  {kept} bytes')
verdict = 'holds' if total - ours >= total - peer - kept else 'FAILS'
print(f'ours >= peer less the kept segments: {verdict}')
TALLY
median_of() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
pm=$(median_of "${peer_times[@]}")
om=$(median_of "${our_times[@]}")
printf 'median over %d runs: jpegtran %.3f s, sveltery %.3f s, ratio sveltery / jpegtran %.2f (%d files)\n' \
  "$runs" "$pm" "$om" "$(echo "$om / $pm" | bc -l)" "$files"
