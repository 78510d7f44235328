#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice: once in a normal
# build with warnings as errors, once under AddressSanitizer and UndefinedBehaviorSanitizer.
# Between the two, the benchmark runs once on a small corpus and every fuzz target runs for a
# short while on its seeds, so neither can rot.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen

run_suite() {
  local dir="$1"; shift
  echo "=== ${dir}"
  cmake -S . -B "$dir" -DVELARIX_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  (cd "$dir" && ctest --output-on-failure -j"$jobs")
}

run_suite build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The benchmark must keep running: a small corpus, its figures printed, its times not judged.
echo "=== benchmark (smoke run)"
build-test/tools/bench --files 300 | tail -n 1

echo "=== fuzz targets (smoke run)"
scripts/fuzz-smoke.sh "${VELARIX_FUZZ_SECONDS:-30}"

ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DVELARIX_SANITIZE=ON
