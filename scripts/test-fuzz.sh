#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz and runs
# each for a bounded time from its committed seed corpus. Any finding (a
# property violation, a sanitizer report, a crash, a time-out) fails the run
# and leaves the input under build-fuzz/artifacts/.
#   VFB_FUZZ_SECONDS  time per target (default 30)
#   VFB_JOBS          build parallelism (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-fuzz
seconds=${VFB_FUZZ_SECONDS:-30}
jobs=${VFB_JOBS:-2}
targets=(text_chain request_target operations tool_input)

cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DVFB_FUZZ=ON -DVFB_BUILD_TESTS=OFF -DVFB_BUILD_TOOLS=OFF >/dev/null
ninja -C "$build" -j"$jobs" "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

status=0
summary=()
for t in "${targets[@]}"; do
  # New inputs go to a scratch corpus, so the committed seeds stay as they are.
  work=$build/corpus/$t
  artifacts=$build/artifacts/$t
  log=$build/fuzz-$t.log
  mkdir -p "$work" "$artifacts"
  echo "fuzz_$t: ${seconds}s"
  rc=0
  "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "tests/fuzz/corpus/$t" >"$log" 2>&1 || rc=$?
  runs=$(sed -n 's/^Done \([0-9][0-9]*\) runs in \([0-9][0-9]*\) second.*/\1 executions in \2 s/p' "$log" | tail -1)
  if [ "$rc" -ne 0 ] || [ -z "$runs" ]; then
    echo "fuzz_$t: FAILED (exit $rc); the log is $log" >&2
    grep -E -m5 'property violated|ERROR: |runtime error|SUMMARY|Test unit written' "$log" >&2 || tail -20 "$log" >&2
    summary+=("fuzz_$t: FAILED")
    status=1
  else
    summary+=("fuzz_$t: $runs")
  fi
done

printf '%s\n' "${summary[@]}"
exit "$status"
