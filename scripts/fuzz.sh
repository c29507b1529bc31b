#!/bin/sh
# Builds the libFuzzer targets of fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer), writes their seed corpora with the project's
# stream builder, and runs each target for SECONDS (default 60). Exits non-zero
# when a target finds anything; the crashing input is kept under
# fuzz-build/artifacts/. Prints each run's final executions per second and
# coverage.
#
#   scripts/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."

seconds=${1:-60}
case $seconds in
    ''|*[!0-9]*|0) echo "Usage: scripts/fuzz.sh [SECONDS]  (SECONDS a whole number, at least 1)" >&2; exit 2 ;;
esac
build=fuzz-build
cxx=${CXX_FUZZ:-clang++}
jobs=$(nproc 2>/dev/null || echo 2)
common="-std=c++20 -g -O1 -I ts/include -I ."
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
targets="fuzz_packet fuzz_sections fuzz_drivers"

./scripts/install-deps.sh fuzz
if ! command -v "$cxx" >/dev/null 2>&1; then
    echo "fuzz.sh: $cxx not found (scripts/install-deps.sh fuzz installs clang)" >&2
    exit 1
fi

mkdir -p "$build/obj" "$build/artifacts"

# The toolkit, as the library target of CMakeLists.txt gathers it, compiled
# once with coverage instrumentation for all targets.
toolkit_sources=$(ls ts/*/*.cpp)
echo "fuzz.sh: compiling the toolkit ($(echo "$toolkit_sources" | wc -w) files)"
export FUZZ_CXX="$cxx" FUZZ_FLAGS="$common $sanitize -fsanitize=fuzzer-no-link" FUZZ_OBJ="$build/obj"
# shellcheck disable=SC2016
printf '%s\n' $toolkit_sources |
    xargs -P "$jobs" -n 1 sh -c '$FUZZ_CXX $FUZZ_FLAGS -c "$1" -o "$FUZZ_OBJ/$(echo "$1" | tr / _).o"' compile
objects=""
for src in $toolkit_sources; do objects="$objects $build/obj/$(echo "$src" | tr / _).o"; done

for target in $targets; do
    echo "fuzz.sh: linking $target"
    # shellcheck disable=SC2086
    $cxx $common $sanitize -fsanitize=fuzzer "fuzz/$target.cpp" $objects -o "$build/$target"
done

echo "fuzz.sh: writing the seed corpora"
$cxx $common "fuzz/make_seeds.cpp" tools/stream_builder.cpp -o "$build/make_seeds"
"$build/make_seeds" "$build/corpus"

max_len() {
    case $1 in
        fuzz_packet) echo 1024 ;;
        *) echo 16384 ;;
    esac
}
corpus_of() {
    case $1 in
        fuzz_packet) echo packet ;;
        fuzz_sections) echo sections ;;
        *) echo drivers ;;
    esac
}

failed=""
for target in $targets; do
    log="$build/$target.log"
    echo "fuzz.sh: running $target for ${seconds}s"
    status=0
    ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=0} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1} \
        "$build/$target" -max_total_time="$seconds" -rss_limit_mb=4096 -timeout=25 \
        -max_len="$(max_len "$target")" -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" "$build/corpus/$(corpus_of "$target")" \
        >"$log" 2>&1 || status=$?
    # The last status line carries the coverage and the speed reached.
    summary=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
    units=$(grep -E '^stat::number_of_executed_units' "$log" | tail -n 1 || true)
    speed=$(grep -E '^stat::average_exec_per_sec' "$log" | tail -n 1 || true)
    echo "  $target: $summary"
    echo "  $target: $units $speed"
    if [ "$status" -ne 0 ]; then
        echo "fuzz.sh: $target FAILED (status $status); its report:" >&2
        grep -v -E '^#[0-9]+' "$log" | tail -n 60 >&2
        failed="$failed $target"
    fi
done

if [ -n "$failed" ]; then
    echo "fuzz.sh: findings in:$failed (inputs under $build/artifacts/)" >&2
    exit 1
fi
echo "fuzz.sh: no finding in $targets"
