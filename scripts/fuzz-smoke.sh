#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each one for a short while on a copy of its seed
# corpus; any crash, leak, time-out or sanitizer report fails the script.
# Usage: scripts/fuzz-smoke.sh [seconds per target, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
build="${VELARIX_FUZZ_BUILD:-build-fuzz}"
targets=(fuzz_json fuzz_http_answer fuzz_url fuzz_ini fuzz_multipart)

CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -DVELARIX_FUZZ=ON -DVELARIX_BUILD_APP=OFF \
  -DVELARIX_BUILD_TESTS=OFF -DVELARIX_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failed=0
for t in "${targets[@]}"; do
  mkdir -p "$work/$t/corpus" "$work/$t/tmp"
  cp fuzz/corpus/"$t"/* "$work/$t/corpus/"
  echo "=== $t (${seconds}s)"
  if TMPDIR="$work/$t/tmp" "$build/fuzz/$t" "$work/$t/corpus" -max_total_time="$seconds" \
      -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$work/$t/" >"$work/$t.log" 2>&1; then
    grep -E "^#[0-9]+[[:space:]]+DONE" "$work/$t.log" || tail -n 1 "$work/$t.log"
  else
    failed=1
    tail -n 60 "$work/$t.log"
    for a in "$work/$t"/crash-* "$work/$t"/leak-* "$work/$t"/timeout-* "$work/$t"/oom-*; do
      [ -e "$a" ] && { echo "--- input $(basename "$a"):"; od -c "$a" | head -n 20; }
    done
  fi
done
[ "$failed" -eq 0 ] && echo "fuzz smoke: no findings"
exit "$failed"
