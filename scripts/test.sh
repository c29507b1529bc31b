#!/bin/sh
# Builds Rivulet twice (warnings as errors; AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds; then the
# engine's tests, which split with writer threads, under ThreadSanitizer.
# Each build is configured with all the options it needs, whatever a folder
# held before.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh test

jobs=$(nproc 2>/dev/null || echo 2)
started=$(date +%s)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
run_build() {
    dir=$1
    shift
    cmake -S . -B "$dir" -DRIVULET_WERROR=ON -DRIVULET_TESTS=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    # A build that ran no test fails.
    # The output is shown as it comes and kept, for its skipped tests; the
    # status is ctest's, not tee's.
    {
        if (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$jobs"); then
            echo 0 >"$log.status"
        else
            echo $? >"$log.status"
        fi
    } | tee "$log"
    status=$(cat "$log.status")
    rm -f "$log.status"
    [ "$status" -eq 0 ] || exit "$status"
    skipped=$(grep -c '(Skipped)' "$log" || true)
    echo "$dir: $skipped tests skipped."
}

run_build build/release -DCMAKE_BUILD_TYPE=Release -DRIVULET_SANITIZE=OFF
release_skipped=$skipped
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    run_build build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRIVULET_SANITIZE=ON
cmake -S . -B build/threads -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRIVULET_WERROR=ON -DRIVULET_TESTS=ON \
    -DRIVULET_THREAD_SANITIZE=ON >/dev/null
cmake --build build/threads -j "$jobs" --target rivulet_tests
# ThreadSanitizer's runtime wants a fixed address layout where the kernel
# randomizes more than it expects; setarch -R gives it one where allowed.
norandom=""
if setarch "$(uname -m)" -R true 2>/dev/null; then norandom="setarch $(uname -m) -R"; fi
TSAN_OPTIONS=halt_on_error=1 $norandom build/threads/tests/rivulet_tests --gtest_filter='SplitterFeed.*' --gtest_brief=1
echo "All tests passed in both builds, and the engine's under ThreadSanitizer, in $(( ($(date +%s) - started) / 60 )) min."
if [ "$release_skipped" -gt 0 ] || [ "$skipped" -gt 0 ]; then
    echo "Skipped: $release_skipped in the release build, $skipped in the sanitized one: they need the captures"
    echo "(RIVULET_SAMPLES=DIR ./scripts/test.sh, DIR holding the sample .ts files) or ffmpeg."
fi
