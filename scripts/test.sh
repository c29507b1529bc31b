#!/bin/sh
# Builds Rivulet twice (warnings as errors; AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds. Each build
# is configured with all the options it needs, whatever a folder held before.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh test

jobs=$(nproc 2>/dev/null || echo 2)
run_build() {
    dir=$1
    shift
    cmake -S . -B "$dir" -DRIVULET_WERROR=ON -DRIVULET_TESTS=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    # A build that ran no test fails.
    (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$jobs")
}

run_build build/release -DCMAKE_BUILD_TYPE=Release -DRIVULET_SANITIZE=OFF
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
    run_build build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRIVULET_SANITIZE=ON
echo "All tests passed in both builds."
