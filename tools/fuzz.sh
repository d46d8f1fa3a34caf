#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ and runs each for SECONDS
# (default 30) on a scratch copy of its seed corpus (tests/fuzz/corpus/<target>/
# is never grown). Fails on any crash, hang, leak, sanitizer report or broken
# check; prints the number of executions per target.
#
#   bash tools/fuzz.sh [SECONDS]
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

duration="${1:-30}"
if ! [[ "$duration" =~ ^[0-9]+$ ]] || [ "$duration" -lt 1 ]; then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi

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
  echo "== $target (${duration} s)"
  status=0
  TMPDIR="$PWD/$run/tmp" "$build/tests/fuzz/$target" \
    -max_total_time="$duration" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$dir/" "$dir/corpus" >"$log" 2>&1 || status=$?
  runs="$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -n1)"
  if [ "$status" -ne 0 ] || [ -z "$runs" ] ||
     grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:' "$log"; then
    failed+=("$target")
    summary+=("$(printf '%-20s FAILED (exit %s), log: %s' "$target" "$status" "$log")")
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$log" | head -n 20 || true
  else
    summary+=("$(printf '%-20s %12s runs' "$target" "$runs")")
  fi
done
rm -rf "$run/tmp"

echo
echo "Fuzzing summary (${duration} s per target):"
printf '  %s\n' "${summary[@]}"
if [ "${#failed[@]}" -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
