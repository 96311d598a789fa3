#!/usr/bin/env bash
# Builds the fuzzers for the host and runs each for a bounded time, after
# replaying every kept regression input. Usage: fuzz/run.sh <build dir> [seconds]
# A crash leaves its input in <build dir>/artifacts/; keep it under
# fuzz/regressions/<target>/ once fixed.
set -euo pipefail
src=$(cd "$(dirname "$0")" && pwd)
build=${1:?build dir}
seconds=${2:-20}

if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
fi
cmake --build "$build" >/dev/null
mkdir -p "$build/artifacts"

for target in dns smtp; do
  fuzzer="$build/fuzz_${target}_reply"
  regressions=("$src/regressions/$target"/*)
  if [ -e "${regressions[0]}" ]; then
    "$fuzzer" "${regressions[@]}" >"$build/$target-regressions.log" 2>&1 \
      || { cat "$build/$target-regressions.log"; echo "$target: regression input fails"; exit 1; }
  fi
  corpus="$build/corpus-$target"
  mkdir -p "$corpus"
  if ! "$fuzzer" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 \
       -artifact_prefix="$build/artifacts/$target-" "$corpus" "$src/corpus/$target" \
       >"$build/$target-fuzz.log" 2>&1; then
    tail -40 "$build/$target-fuzz.log"
    echo "$target: fuzzer found a fault"
    exit 1
  fi
  echo "$target: $(grep -E '^Done [0-9]+ runs' "$build/$target-fuzz.log" | tail -n 1)"
  echo "$target: ${#regressions[@]} regression input(s) replayed"
done
