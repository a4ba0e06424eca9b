#!/usr/bin/env bash
# Sanitizer builds and their suites:
#   build-asan  AddressSanitizer + LeakSanitizer + UndefinedBehaviorSanitizer:
#               the unit tests, and the end-to-end suites when they are there;
#   build-tsan  ThreadSanitizer: the concurrency test, or, until there is one,
#               the transport's loopback cases (the only code that waits on
#               sockets and a resolver thread).
# Any report fails the run: every sanitizer halts on its first error.
#   VFB_JOBS               build parallelism (default 2)
#   VFB_CONCURRENCY_CALLS  calls per thread of the concurrency test (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${VFB_JOBS:-2}

step() { printf '\n--- %s ---\n' "$*"; }

# Tests that open sockets run in a network namespace with only the loopback up.
in_netns() {
  local ns=(--net)
  [ "$(id -u)" = 0 ] || ns=(--user --map-root-user --net)
  unshare "${ns[@]}" -- /bin/sh -c 'ip link set lo up && exec "$@"' sh "$@"
}

has_test() {  # build dir, test name
  local listing
  listing=$(ctest --test-dir "$1" -N)
  grep -Eq "Test +#[0-9]+: $2\$" <<<"$listing"
}

configure_and_build() {  # build dir, sanitizers
  cmake -S . -B "$1" -G Ninja -DVFB_SANITIZE="$2" -DVFB_BUILD_TESTS=ON -DVFB_BUILD_TOOLS=OFF >/dev/null
  ninja -C "$1" -j"$jobs"
}

export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=0:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:report_signal_unsafe=1:suppressions=$PWD/tests/e2e/concurrency/tsan.supp
# The concurrency test's calls per thread: its deadline assumes an uninstrumented build.
export VFB_CONCURRENCY_CALLS=${VFB_CONCURRENCY_CALLS:-5}

step "AddressSanitizer + UndefinedBehaviorSanitizer (build-asan)"
configure_and_build build-asan address,undefined
in_netns ctest --test-dir build-asan -R '^unit$' --output-on-failure
if has_test build-asan e2e; then
  # The sandbox makes its own namespaces; the variables reach the binary inside.
  ctest --test-dir build-asan -R '^(e2e|e2e_.*|concurrency)$' --output-on-failure
else
  echo "no e2e test in this tree; skipped"
fi

step "ThreadSanitizer (build-tsan)"
configure_and_build build-tsan thread
if has_test build-tsan concurrency; then
  in_netns ctest --test-dir build-tsan -R '^concurrency$' --output-on-failure
else
  echo "no concurrency test yet: the transport's loopback cases instead"
  in_netns build-tsan/tests/unit/vantrelfb_unit --gtest_filter='CurlTransport*'
fi
