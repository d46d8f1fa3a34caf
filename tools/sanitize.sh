#!/usr/bin/env bash
# Builds annc and all its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/ and runs every test there (unit
# and end-to-end, the latter on the sanitized binary). Any sanitizer report,
# in a test or in an annc process a test starts, fails the run.
#
#   bash tools/sanitize.sh
#
# Reports are written to build-asan/sanitizer-reports/ (one file per process
# that had one, named report.<pid>) rather than to standard error, so that an
# end-to-end test that captures annc's standard error cannot swallow one; the
# script prints them and fails when there is any.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-asan
bash tools/setup.sh

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DANNC_SANITIZE=ON -DANNC_TESTS=ON >/dev/null
cmake --build "$build" -j2

reports="$PWD/$build/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
common="halt_on_error=1:abort_on_error=1:detect_leaks=1:strict_string_checks=1:check_initialization_order=1:log_path=$reports/report"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1:log_path=$reports/report"
export LSAN_OPTIONS="log_path=$reports/report"

status=0
# The unit tests also look for stack frames used after their function
# returned (a string_view into a local string). That check gives every
# function its frame from a separate stack, whose pages the process touches
# bit by bit as it runs; the end-to-end tests measure annc's memory while it
# runs, so they run without it.
(cd "$build" && ASAN_OPTIONS="$common:detect_stack_use_after_return=1" \
   ctest --output-on-failure --timeout 1500 -E '^e2e$') || status=$?
(cd "$build" && ASAN_OPTIONS="$common" ctest --output-on-failure --timeout 1500 -R '^e2e$') || status=$?

shopt -s nullglob
found=("$reports"/report.*)
if [ "${#found[@]}" -gt 0 ]; then
  echo
  echo "Sanitizer reports (${#found[@]}):"
  for f in "${found[@]}"; do
    echo "---- $f"
    cat "$f"
  done
  status=1
fi
if [ "$status" -ne 0 ]; then
  echo "sanitize: FAILED"
  exit "$status"
fi
echo "sanitize: all tests passed with no sanitizer report"
