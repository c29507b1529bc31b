#!/bin/sh
# Times the program splitter against plain copies of the same input, side by
# side in one run, with the input in the page cache:
#   dd bs=32M  a user-space copy in 32 MiB blocks: the least any program that
#              reads and writes every packet must do;
#   cp         a copy inside the kernel.
# Usage: bench/split_bench.sh [MEBIBYTES] [PROGRAMS] [ROUNDS]
set -eu
cd "$(dirname "$0")/.."
size=${1:-1024}
programs=${2:-4}
rounds=${3:-3}

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DRIVULET_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target rivulet rivulet-sample >/dev/null

work=build/bench
rm -rf "$work"
mkdir -p "$work"
in="$work/in.ts"
build/release/rivulet-sample "$in" "$size" "$programs"
cat "$in" >/dev/null

now() { date +%s.%N; }
best=""
record() { # name seconds
    eval "cur=\${best_$1:-}"
    if [ -z "$cur" ] || [ "$(echo "$2 < $cur" | bc)" -eq 1 ]; then eval "best_$1=$2"; fi
}
timed() { # name command...
    name=$1
    shift
    sync
    start=$(now)
    "$@" >/dev/null 2>&1
    end=$(now)
    record "$name" "$(echo "$end - $start" | bc)"
}
cleanup_outputs() { rm -f "$work"/in_*.ts "$work"/copy.ts; }

i=0
while [ "$i" -lt "$rounds" ]; do
    cleanup_outputs
    timed dd dd if="$in" of="$work/copy.ts" bs=32M
    cleanup_outputs
    timed cp cp "$in" "$work/copy.ts"
    cleanup_outputs
    timed split build/release/rivulet "$in"
    if command -v script >/dev/null 2>&1; then
        cleanup_outputs
        timed progress script -qec "build/release/rivulet $in" /dev/null
    fi
    i=$((i + 1))
done
out_bytes=$(cat "$work"/in_*.ts 2>/dev/null | wc -c || echo 0)
cleanup_outputs

echo "input: $size MiB, $programs programs, best of $rounds rounds ($(uname -m), $(nproc) cores)"
printf '  dd bs=32M   %8.3f s\n' "$best_dd"
printf '  cp          %8.3f s\n' "$best_cp"
printf '  rivulet     %8.3f s   (%.0f MiB/s)\n' "$best_split" "$(echo "$size / $best_split" | bc -l)"
if [ -n "${best_progress:-}" ]; then
    printf '  rivulet+pty %8.3f s   (progress line on a terminal)\n' "$best_progress"
    printf '  ratio rivulet+pty/rivulet  %.2f\n' "$(echo "$best_progress / $best_split" | bc -l)"
fi
printf '  ratio rivulet/dd  %.2f\n' "$(echo "$best_split / $best_dd" | bc -l)"
printf '  ratio rivulet/cp  %.2f\n' "$(echo "$best_split / $best_cp" | bc -l)"
echo "  output bytes of the last split: $out_bytes"
rm -rf "$work"
