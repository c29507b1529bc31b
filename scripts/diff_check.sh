#!/bin/sh
# Runs two builds of the tools over the same inputs with the same option
# sets and compares everything they write: every output file, every report,
# standard output and standard error, and the exit status. A redesign keeps
# every byte; a change of behaviour shows here, input by input.
#
# Usage: scripts/diff_check.sh OLD_DIR NEW_DIR [INPUT...]
#   OLD_DIR, NEW_DIR  folders holding rivulet and rivulet-ts of each build
#   INPUT             streams to split (default: a stream made by NEW_DIR's
#                     rivulet-sample, and the captures of ../shared/samples,
#                     or of RIVULET_SAMPLES, when present)
# Prints one line per difference and "differences: N"; exit status 0 when
# there is none, 1 when there is one.
set -eu
if [ $# -lt 2 ]; then
    echo "Usage: $0 OLD_DIR NEW_DIR [INPUT...]" >&2
    exit 2
fi
old=$(cd "$1" && pwd)
new=$(cd "$2" && pwd)
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ $# -eq 0 ]; then
    "$new/rivulet-sample" "$work/sample.ts" >/dev/null
    set -- "$work/sample.ts"
    samples=${RIVULET_SAMPLES:-$(dirname "$0")/../../shared/samples}
    for capture in "$samples"/*.ts; do
        [ -f "$capture" ] && set -- "$@" "$capture"
    done
fi

# One option set per line: the tool, then its options; IN stands for the
# input, OUT for the output folder, FIRST for the input's first program.
options='rivulet
rivulet -p FIRST
rivulet -t tv
rivulet -t radio,data -n {service}_{type}_{program}
rivulet -s FIRST -n {service}
rivulet --si
rivulet --clean-start
rivulet -e
rivulet -e --margin 3,1
rivulet -e --clean-start --si -n {service}_{event_id}_{start}
rivulet --report OUT/report.json
rivulet -e --report OUT/report.json
rivulet PIPE
rivulet PIPE -e
rivulet-ts programs
rivulet-ts programs --json
rivulet-ts check --json
rivulet-ts events --json
rivulet-ts dump'

# Runs one build ($1) on one input ($2) with one option set ($3) into $4.
run() {
    bin=$1 input=$2 set=$3 out=$4
    mkdir -p "$out"
    first=$("$new/rivulet-ts" programs "$input" 2>/dev/null | sed -n 's/^program \([0-9]*\) .*/\1/p' | head -n 1)
    tool=${set%% *}
    rest=$(printf '%s' "${set#"$tool"}" | sed "s|OUT|$out|g; s|FIRST|${first:-1}|g")
    if [ "$tool" = rivulet ]; then
        case $rest in
        *PIPE*)
            rest=$(printf '%s' "$rest" | sed 's/PIPE//')
            # shellcheck disable=SC2086
            (cd "$out" && { "$bin/rivulet" -b piped $rest -o . - <"$input" >stdout 2>stderr && echo 0 || echo $?; } >status) ;;
        *)
            # shellcheck disable=SC2086
            (cd "$out" && { "$bin/rivulet" $rest -o . "$input" >stdout 2>stderr && echo 0 || echo $?; } >status) ;;
        esac
    else
        # shellcheck disable=SC2086
        (cd "$out" && { "$bin/rivulet-ts" $rest "$input" >stdout 2>stderr && echo 0 || echo $?; } >status)
    fi
    # The two runs' folders differ by name only: the texts name neither.
    for text in "$out"/stdout "$out"/stderr "$out"/report.json; do
        [ -f "$text" ] && sed -i "s|$out|OUT|g" "$text"
    done
    return 0
}

for input in "$@"; do
    input=$(cd "$(dirname "$input")" && pwd)/$(basename "$input")
    echo "$options" | while IFS= read -r set; do
        rm -rf "$work/old" "$work/new"
        run "$old" "$input" "$set" "$work/old"
        run "$new" "$input" "$set" "$work/new"
        if ! diff -r "$work/old" "$work/new" >/dev/null 2>&1; then
            echo "differs: $(basename "$input") [$set]: $(diff -rq "$work/old" "$work/new" 2>&1 | sed "s|$work/||g" | head -n 3 | tr '\n' ' ')"
        fi
    done
done >"$work/list"
cat "$work/list"
differences=$(wc -l <"$work/list")
echo "differences: $differences"
[ "$differences" -eq 0 ]
