#!/bin/sh
# Instructions per URL of one Go cycle over 100 loopback URLs against 100 bare libcurl fetches
# of the same pages, counted by valgrind's callgrind (repeatable within about 1%, unlike a
# timing): each side runs once to warm up, then once measured. The cycle's pauses go through a
# virtual clock and cost nothing here. Target: the cycle within 1.3 times the bare fetch.
#
#   bench/cycle_instructions.sh [BUILD_FOLDER]     (default: build; needs valgrind)
set -eu
case "${1:-}" in
  -h | --help)
    sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
esac
[ $# -le 1 ] || { echo "usage: $0 [BUILD_FOLDER]" >&2; exit 2; }
bench="${1:-build}/bench/ops_cycle_bench"
[ -x "$bench" ] || { echo "error: $bench not found (build with -DSNX_BUILD_BENCH=ON)" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "error: valgrind is not installed (apt-get install valgrind)" >&2; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# The instructions of one run, collected inside the named function only.
count() {
  rm -f "$out"/cg.*
  valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$out/cg.%p" \
    --toggle-collect="*$1*" "$bench" --instructions >"$out/log" 2>&1 ||
    { cat "$out/log" >&2; echo "error: the run failed" >&2; exit 1; }
  sed -n 's/^totals: \([0-9]*\).*/\1/p' "$out"/cg.*
}
bare=$(count MeasuredBareFetches)
cycle=$(count MeasuredCycle)
[ -n "$bare" ] && [ -n "$cycle" ] || { echo "error: no callgrind figures found" >&2; exit 1; }
awk -v b="$bare" -v c="$cycle" 'BEGIN {
  printf "instructions per URL: cycle %.1fk, bare libcurl fetch %.1fk, ratio %.2f (target <= 1.3) %s\n",
    c / 100000, b / 100000, c / b, (c / b <= 1.3 ? "MET" : "NOT MET") }'
