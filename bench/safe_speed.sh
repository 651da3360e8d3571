#!/bin/bash
# The safe profile's speed beside the default profile's, on the corpus pages one by one
# (markup_bench): alternating runs of both, their throughput side by side and the ratio, for --safe
# as it runs and for its markup work alone (--safe -h: inline code left as it is); then, where
# valgrind is installed, the instructions one pass of each takes, which a shared machine's load does
# not move.
#   bench/safe_speed.sh [markup_bench binary] [runs]
set -euo pipefail
bench=${1:-build/release/bench/markup_bench}
runs=${2:-5}
[[ -x $bench ]] || { echo "no $bench: cmake --preset release && cmake --build --preset release --target markup_bench" >&2; exit 2; }

# Bytes per second of one benchmark, from its JSON report.
rate() {
  "$bench" --benchmark_filter="^$1\$" --benchmark_min_time=0.5 --benchmark_format=json 2>/dev/null |
    python3 -c 'import json,sys; print(json.load(sys.stdin)["benchmarks"][0]["bytes_per_second"])'
}

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }

ratios=()
markup_ratios=()
printf '%-4s %14s %14s %8s %14s %8s\n' run "default MB/s" "--safe MB/s" ratio "--safe -h MB/s" ratio
for ((i = 1; i <= runs; i++)); do
  d=$(rate BM_CorpusPages)
  s=$(rate BM_CorpusPagesSafe)
  m=$(rate BM_CorpusPagesSafeMarkup)
  r=$(python3 -c "print(f'{$s / $d:.3f}')")
  rm=$(python3 -c "print(f'{$m / $d:.3f}')")
  ratios+=("$r")
  markup_ratios+=("$rm")
  python3 -c "print(f'{$i:<4} {$d / 1e6:14.0f} {$s / 1e6:14.0f} {float(\"$r\"):8.3f} {$m / 1e6:14.0f} {float(\"$rm\"):8.3f}')"
done
printf 'median ratio over %d runs: --safe %s, --safe -h %s\n' "$runs" "$(median "${ratios[@]}")" \
  "$(median "${markup_ratios[@]}")"

command -v valgrind >/dev/null || exit 0
# Instructions inside each optimizer over one pass of the pages (the page loading left out).
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "--toggle-collect=$2(*" \
    "$bench" --benchmark_filter="^$1\$" --benchmark_min_time=0 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
d=$(instructions BM_CorpusPages optimize_markup)
s=$(instructions BM_CorpusPagesSafe optimize_markup_safe)
m=$(instructions BM_CorpusPagesSafeMarkup optimize_markup_safe)
printf 'instructions: default %d, --safe %d (ratio %s), --safe -h %d (ratio %s)\n' "$d" "$s" \
  "$(python3 -c "print(f'{$d / $s:.3f}')")" "$m" "$(python3 -c "print(f'{$d / $m:.3f}')")"
