#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ and runs each on a scratch copy
# of its seed corpus (tests/fuzz/corpus/<target>/ is never grown). Fails on
# any crash, hang, leak, sanitizer report or broken check; ends with a table
# of each target's executions and time taken.
#
#   bash tools/fuzz.sh [SECONDS]       each target for SECONDS (default 30; CI)
#   bash tools/fuzz.sh --long [LIMIT]  each target for 1,000,000 executions,
#                                      or LIMIT seconds (default 900) if that
#                                      comes first, which the table then shows
#   bash tools/fuzz.sh --help
#
# How the fuzz build is made: clang++, with ANNC_SANITIZE=ON so that the whole
# tree (libraries included) is built with AddressSanitizer and
# UndefinedBehaviorSanitizer, and ANNC_FUZZ=ON, which adds libFuzzer's
# coverage instrumentation to the libraries (-fsanitize=fuzzer-no-link) and
# links libFuzzer into the fuzz executables only (-fsanitize=fuzzer). The
# unit tests are left out (ANNC_TESTS=OFF): they are built by
# tools/sanitize.sh.
#
# A failing input is kept as build-fuzz/fuzz-run/<target>/crash-* (or leak-*,
# timeout-*, oom-*); replay it with build-fuzz/tests/fuzz/<target> FILE.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  echo "usage: $0 [SECONDS] | --long [LIMIT_SECONDS] | --help"
  echo "  SECONDS         run each fuzz target for SECONDS (default 30)"
  echo "  --long [LIMIT]  run each fuzz target for ${long_runs} executions, stopping it"
  echo "                  after LIMIT seconds (default 900) if it has not done them by then"
}

long_runs=1000000
mode=short
case "${1:-}" in
  -h|--help) usage; exit 0 ;;
  --long) mode=long; duration="${2:-900}" ;;
  *) duration="${1:-30}" ;;
esac
if ! [[ "$duration" =~ ^[0-9]+$ ]] || [ "$duration" -lt 1 ] || [ "$#" -gt 2 ] ||
   { [ "$mode" = short ] && [ "$#" -gt 1 ]; }; then
  usage >&2
  exit 2
fi
run_limit=()
if [ "$mode" = long ]; then run_limit=(-runs="$long_runs"); fi

build=build-fuzz
run="$build/fuzz-run"

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
install_packages() {
  echo "Installing: $*"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$@" >/dev/null
}

# clang++ with libFuzzer and the sanitizer run-times.
if ! command -v clang++ >/dev/null 2>&1; then install_packages clang; fi
probe_dir="$(mktemp -d)"
trap 'rm -rf "$probe_dir"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
  >"$probe_dir/probe.cc"
if ! clang++ -fsanitize=fuzzer,address,undefined "$probe_dir/probe.cc" -o "$probe_dir/probe" 2>/dev/null; then
  version="$(clang++ --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n1)"
  install_packages "libclang-rt-${version}-dev"
  clang++ -fsanitize=fuzzer,address,undefined "$probe_dir/probe.cc" -o "$probe_dir/probe"
fi
if ! pkg-config --exists alsa sndfile 2>/dev/null; then bash tools/setup.sh; fi

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DANNC_FUZZ=ON -DANNC_SANITIZE=ON -DANNC_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target annc_fuzzers

# The targets are those tests/fuzz/CMakeLists.txt lists.
mapfile -t targets <"$build/tests/fuzz/targets.txt"
if [ "${#targets[@]}" -eq 0 ]; then
  echo "no fuzz targets listed in $build/tests/fuzz/targets.txt" >&2
  exit 1
fi

# Every report ends the run with a failure; leaks count.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"

rm -rf "$run"
mkdir -p "$run/tmp"
failed=()
summary=()
for target in "${targets[@]}"; do
  dir="$run/$target"
  mkdir -p "$dir/corpus"
  cp tests/fuzz/corpus/"$target"/* "$dir/corpus/"
  log="$dir/fuzz.log"
  if [ "$mode" = long ]; then
    echo "== $target ($long_runs runs, at most $duration s)"
  else
    echo "== $target ($duration s)"
  fi
  status=0
  started=$SECONDS
  TMPDIR="$PWD/$run/tmp" "$build/tests/fuzz/$target" \
    "${run_limit[@]}" -max_total_time="$duration" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$dir/" "$dir/corpus" >"$log" 2>&1 || status=$?
  elapsed=$((SECONDS - started))
  # libFuzzer ends with "Done N runs in S second(s)"; the last "#N ..."
  # status line says how far a run got that did not reach it.
  runs="$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n1)"
  took="$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n1)"
  reached="$(sed -n 's/^#\([0-9][0-9]*\)[[:space:]].*/\1/p' "$log" | tail -n1)"
  if [ "$status" -ne 0 ] || [ -z "$runs" ] ||
     grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:' "$log"; then
    failed+=("$target")
    summary+=("$(printf '%-24s %12s %9s  FAILED (exit %s), log: %s' "$target" "${reached:-?}" "${elapsed}" \
                 "$status" "$log")")
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$log" | head -n 20 || true
  else
    note=""
    if [ "$mode" = long ] && [ "$runs" -lt "$long_runs" ]; then note="  time limit before $long_runs runs"; fi
    summary+=("$(printf '%-24s %12s %9s%s' "$target" "$runs" "${took:-$elapsed}" "$note")")
  fi
done
rm -rf "$run/tmp"

echo
if [ "$mode" = long ]; then
  echo "Fuzzing summary ($long_runs runs per target, at most $duration s each):"
else
  echo "Fuzzing summary ($duration s per target):"
fi
printf '  %-24s %12s %9s\n' target executions seconds
printf '  %s\n' "${summary[@]}"
if [ "${#failed[@]}" -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
