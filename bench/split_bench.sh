#!/bin/sh
# Measures the program splitter side by side with its references, in one
# run, input and outputs on tmpfs so that disk write-back does not blur it.
# Each pair runs A B A B ...; the figure quoted is the median of the
# per-pair ratios.
#   split / dd      a 1 GiB, 4-program stream (ffmpeg-made when ffmpeg is
#                   installed) against dd bs=32M of the same file
#   ffmpeg / split  ffmpeg -c copy of every program in one pass
#   modes           -s NAME, -t tv -n "{service}", --si, --report, --sidecar, epg, the
#                   clean start and the event cut (when built), --drop,
#                   --audio and --stable (when built), check and the split
#                   from a pipe, each against the plain split, on the 1 GiB
#                   stream and on a generated one without SDT
#   cp, -j 1, default  on each 1 GiB stream, in turn: wall time, CPU seconds
#                   (user + system) per GiB, and wall time against cp's
#   small / cp      a 1.4 MB, 2-program file against cp
#   peak memory     of the 1 GiB split, chosen and named, and from a pipe
#                   while held back for names (/usr/bin/time -v)
#   split / ref     with REFERENCE=/path/to/another/rivulet: the split
#                   against that build's, on the same 1 GiB stream
# Usage: [REFERENCE=RIVULET] [WORK=DIR] bench/split_bench.sh [PAIRS]   (default 5;
#        WORK on tmpfs, default /dev/shm/rivulet-bench, emptied and removed)
set -eu
cd "$(dirname "$0")/.."
pairs=${1:-5}
./scripts/install-deps.sh build
./scripts/install-deps.sh bench

# A build of its own: the benchmark leaves the test builds as they are.
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DRIVULET_SANITIZE=OFF -DRIVULET_TESTS=OFF >/dev/null
cmake --build build/bench -j "$(nproc 2>/dev/null || echo 2)" --target rivulet rivulet-ts rivulet-sample >/dev/null
rivulet=$PWD/build/bench/rivulet
checker=$PWD/build/bench/rivulet-ts

work=${WORK:-/dev/shm/rivulet-bench}
rm -rf "$work"
mkdir -p "$work/out"
trap 'rm -rf "$work"' EXIT
big=$work/big.ts
small=$work/small.ts

if command -v ffmpeg >/dev/null 2>&1; then
    # 8 s of four MPEG-2 programs, repeated to 1 GiB.
    ffmpeg -v error -y -f lavfi -i testsrc2=s=720x576:r=25:d=8 -f lavfi -i sine=d=8 \
        -map 0:v -map 1:a -map 0:v -map 1:a -map 0:v -map 1:a -map 0:v -map 1:a \
        -c:v mpeg2video -b:v 12M -maxrate 12M -bufsize 2M -c:a mp2 \
        -program st=0:st=1 -program st=2:st=3 -program st=4:st=5 -program st=6:st=7 \
        -f mpegts "$work/base.ts"
    : >"$big"
    while [ "$(stat -c %s "$big")" -lt 1073741824 ]; do cat "$work/base.ts" >>"$big"; done
    ffmpeg -v error -y -i "$work/base.ts" -map 0:p:1 -map 0:p:2 -c copy -f mpegts "$work/two.ts"
    head -c 1400036 "$work/two.ts" >"$small"
else
    build/bench/rivulet-sample "$big" 1024 4
    build/bench/rivulet-sample "$small" 1 2
fi

now() { date +%s.%N; }
seconds() { # command...: its wall time
    rm -rf "$work/out" && mkdir "$work/out"
    start=$(now)
    "$@" >/dev/null 2>&1
    echo "$(now) - $start" | bc
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# pair NAME A-COMMAND -- B-COMMAND: median of time(A)/time(B) and of each time.
pair() {
    name=$1
    shift
    a=""
    while [ "$1" != "--" ]; do a="$a $1"; shift; done
    shift
    : >"$work/ratios"; : >"$work/a"; : >"$work/b"
    i=0
    while [ "$i" -lt "$pairs" ]; do
        # shellcheck disable=SC2086
        ta=$(seconds $a)
        tb=$(seconds "$@")
        echo "$ta" >>"$work/a"; echo "$tb" >>"$work/b"
        echo "$ta / $tb" | bc -l >>"$work/ratios"
        i=$((i + 1))
    done
    printf '  %-16s %7.3f s vs %7.3f s   ratio %.2f\n' "$name" "$(median <"$work/a")" "$(median <"$work/b")" \
        "$(median <"$work/ratios")"
}

cat "$big" "$small" >/dev/null
echo "machine: $(uname -m), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "median of $pairs pairs, run side by side (A B A B):"
pair "split / dd" "$rivulet" -o "$work/out" "$big" -- dd if="$big" of="$work/out/copy.ts" bs=32M
if command -v ffmpeg >/dev/null 2>&1; then
    pair "ffmpeg / split" ffmpeg -y -i "$big" -map 0:p:1 -c copy "$work/out/1.ts" -map 0:p:2 -c copy "$work/out/2.ts" \
        -map 0:p:3 -c copy "$work/out/3.ts" -map 0:p:4 -c copy "$work/out/4.ts" -- "$rivulet" -o "$work/out" "$big"
fi
# cp, the split on one thread and the split by default (a writer thread per
# core), in turn: each one's median wall time and CPU seconds (user + system)
# per GiB, and the medians of the splits' per-round ratios to cp.
against_cp() { # STREAM
    stream=$1
    gib=$(echo "$(stat -c %s "$stream") / 1073741824" | bc -l)
    : >"$work/cp"; : >"$work/j1"; : >"$work/jn"
    i=0
    while [ "$i" -lt "$pairs" ]; do
        for run in cp j1 jn; do
            rm -rf "$work/out" && mkdir "$work/out"
            case $run in
                cp) set -- cp "$stream" "$work/out/copy.ts" ;;
                j1) set -- "$rivulet" -j 1 -o "$work/out" "$stream" ;;
                jn) set -- "$rivulet" -o "$work/out" "$stream" ;;
            esac
            /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >/dev/null 2>&1
            awk -v gib="$gib" '{ printf "%s %.4f\n", $1, ($2 + $3) / gib }' "$work/time" >>"$work/$run"
        done
        i=$((i + 1))
    done
    for run in cp j1 jn; do
        wall=$(cut -d' ' -f1 <"$work/$run" | median)
        cpu=$(cut -d' ' -f2 <"$work/$run" | median)
        ratio=$(paste -d' ' "$work/$run" "$work/cp" | awk '{ print $1 / $3 }' | median)
        case $run in cp) label="cp" ;; j1) label="split -j 1" ;; *) label="split (default)" ;; esac
        printf '  %-16s %7.3f s   %5.2f CPU s/GiB   wall / cp %.2f\n' "$label" "$wall" "$cpu" "$ratio"
    done
}
piped() { cat "$1" | "$rivulet" -o "$work/out" -; }
# Every mode against the plain split of the same stream: the one above (with
# an SDT when ffmpeg made it) and a generated one without SDT.
modes() { # STREAM LABEL
    stream=$1
    echo "$2:"
    if [ -x /usr/bin/time ]; then against_cp "$stream"; fi
    name=$("$checker" programs "$stream" | sed -n 's/.* name "\([^"]*\)".*/\1/p' | head -n 1)
    if [ -n "$name" ]; then
        pair "-s NAME" "$rivulet" -o "$work/out" -s "$name" "$stream" -- "$rivulet" -o "$work/out" "$stream"
    fi
    pair "-t tv -n service" "$rivulet" -o "$work/out" -t tv -n "{service}" "$stream" -- "$rivulet" -o "$work/out" "$stream"
    pair "--si" "$rivulet" -o "$work/out" --si "$stream" -- "$rivulet" -o "$work/out" "$stream"
    pair "--report" "$rivulet" -o "$work/out" --report "$work/out/r.json" "$stream" -- "$rivulet" -o "$work/out" "$stream"
    pair "--sidecar err,nfo,json" "$rivulet" -o "$work/out" --sidecar err,nfo,json "$stream" -- "$rivulet" -o "$work/out" "$stream"
    for option in --clean-start -e; do
        if "$rivulet" --help | grep -q -- "$option"; then
            pair "$option" "$rivulet" -o "$work/out" "$option" "$stream" -- "$rivulet" -o "$work/out" "$stream"
        fi
    done
    # Components left out, each file's PMT rebuilt; one shape per file (the file read twice).
    for option in "--drop data,subtitles" "--audio first" --stable; do
        if "$rivulet" --help | grep -q -- "${option%% *}"; then
            # shellcheck disable=SC2086
            pair "$option" "$rivulet" -o "$work/out" $option "$stream" -- "$rivulet" -o "$work/out" "$stream"
        fi
    done
    pair "check" "$checker" check "$stream" -- "$rivulet" -o "$work/out" "$stream"
    pair "epg" "$checker" epg "$stream" -- "$rivulet" -o "$work/out" "$stream"
    pair "from a pipe" piped "$stream" -- "$rivulet" -o "$work/out" "$stream"
}
modes "$big" "the 1 GiB stream"
if command -v ffmpeg >/dev/null 2>&1; then
    build/bench/rivulet-sample "$work/plain.ts" 1024 4
    rm -f "$big"
    modes "$work/plain.ts" "a generated 1 GiB stream without SDT"
    big=$work/plain.ts
fi
pair "small / cp" "$rivulet" -o "$work/out" "$small" -- cp "$small" "$work/out/copy.ts"
if [ -n "${REFERENCE:-}" ]; then
    pair "split / ref" "$rivulet" -o "$work/out" "$big" -- "$REFERENCE" -o "$work/out" "$big"
    pair "small / ref" "$rivulet" -o "$work/out" "$small" -- "$REFERENCE" -o "$work/out" "$small"
fi
rm -rf "$work/out" && mkdir "$work/out"
if [ -x /usr/bin/time ]; then
    peak() { # LABEL COMMAND...: its peak resident memory
        label=$1
        shift
        rm -rf "$work/out" && mkdir "$work/out"
        /usr/bin/time -v "$@" 2>"$work/time" >/dev/null
        printf '  peak memory %-22s %s KiB\n' "$label" "$(awk -F': ' '/Maximum resident/ { print $2 }' "$work/time")"
    }
    peak "split" "$rivulet" -o "$work/out" "$big"
    peak "-t tv -n service" "$rivulet" -o "$work/out" -t tv -n "{service}" "$big"
    peak "piped, held back" sh -c 'cat "$1" | "$2" -o "$3" -t tv -n "{service}" -' sh "$big" "$rivulet" "$work/out"
fi
