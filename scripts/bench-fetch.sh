#!/usr/bin/env bash
# The fetch comparison in one table: builds the fetch benchmark and the program in build/, then
# prints the median of each case over several runs (3 unless told): the engine, curl(1) in
# parallel, xargs with curl(1), linkinator (skipped unless installed: npm install -g linkinator)
# and `vantorel --check` end to end, over 1,000 pages on 100 loopback hosts.
#
#   scripts/bench-fetch.sh [--runs N] [benchmark options, e.g. --benchmark_filter=Program]
set -euo pipefail
cd "$(dirname "$0")/.."

runs=3
if [ "${1:-}" = "--runs" ]; then
  runs="$2"
  shift 2
fi

scripts/deps.sh
[ -f build/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build build --target vantorel_bench_fetch >/dev/null

# One line a case: its median, or why it did not run.
build/bench/vantorel_bench_fetch --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true \
    --benchmark_counters_tabular=true "$@" 2>&1 |
  sed -n -e '/^Benchmark/p' -e 's|/iterations:1/manual_time_median| |p' -e 's|/iterations:1/manual_time\( *[0-9]\)|\1|p' \
      -e 's|/iterations:1/manual_time *ERROR OCCURRED:| skipped:|p' |
  uniq
