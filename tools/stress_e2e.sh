#!/usr/bin/env bash
# Runs COPIES copies of the end-to-end tests at once, ROUNDS times in a row,
# and counts the copies that failed: the tests must hold under a sanitizer
# build on a machine loaded several times over. The logs of failed copies
# are kept and named.
#
#   tools/stress_e2e.sh [BUILD_DIR [COPIES [ROUNDS [GTEST_FILTER]]]]
#
# Defaults: build-asan (Debug, -DTOVIX_SANITIZE=ON), 8 copies, 20 rounds,
# '*E2E*' (every end-to-end test with a child, the hostile ones included).
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-asan}
copies=${2:-8}
rounds=${3:-20}
filter=${4:-'*E2E*'}
tests=$build/server/tovix_lsp_tests
[ -x "$tests" ] || { echo "no $tests: build it first" >&2; exit 2; }
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
logs=$(mktemp -d /tmp/tovix-stress-XXXXXX)
failed=0
peak=0
started=$SECONDS
for ((round = 1; round <= rounds; round++)); do
  pids=()
  for ((copy = 1; copy <= copies; copy++)); do
    "$tests" --gtest_filter="$filter" >"$logs/$round-$copy.log" 2>&1 &
    pids+=($!)
  done
  round_failed=0
  for ((copy = 1; copy <= copies; copy++)); do
    if wait "${pids[copy - 1]}"; then
      rm -f "$logs/$round-$copy.log"
    else
      round_failed=$((round_failed + 1))
      echo "  failed: $logs/$round-$copy.log"
      grep -E '^\[  FAILED  \]|ERROR: (Address|Undefined|Leak)Sanitizer|runtime error' "$logs/$round-$copy.log" | sort -u | sed 's/^/    /'
    fi
  done
  failed=$((failed + round_failed))
  load=$(cut -d' ' -f1 /proc/loadavg)
  peak=$(awk -v a="$peak" -v b="$load" 'BEGIN { print (b > a) ? b : a }')
  echo "round $round: $round_failed of $copies copies failed; load $(cut -d' ' -f1-3 /proc/loadavg); $((SECONDS - started)) s"
done
echo "$failed of $((copies * rounds)) copies failed in $rounds rounds, $((SECONDS - started)) s; highest 1-minute load seen $peak"
[ "$failed" -eq 0 ] && rmdir "$logs" 2>/dev/null
[ "$failed" -eq 0 ]
