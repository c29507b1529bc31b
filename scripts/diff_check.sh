#!/bin/sh
# Runs two builds of the tools over the same inputs with the same option
# sets and compares everything they write: every output file, every report,
# standard output and standard error, and the exit status. A redesign keeps
# every byte; a change of behaviour shows here, input by input.
#
# Usage: scripts/diff_check.sh OLD_DIR NEW_DIR [INPUT...]
#        scripts/diff_check.sh --baseline COMMIT NEW_DIR [INPUT...]
#   OLD_DIR, NEW_DIR  folders holding rivulet and rivulet-ts of each build
#   COMMIT            a commit of this repository whose tools are built (in
#                     a temporary folder, Release) to stand for OLD_DIR
#   INPUT             streams to split (default: streams made by NEW_DIR's
#                     rivulet-sample and rivulet-chart-sample, and the
#                     captures of ../shared/samples, or of RIVULET_SAMPLES,
#                     when present)
# DIFF_CHECK_SKIP, a pattern (grep -e), leaves out the option sets it
# matches: those whose output changed on purpose since the baseline.
# Inputs are compared side by side, as many as there are processors.
# Prints one line per difference, the inputs and option sets compared and
# "differences: N"; exit status 0 when there is none, 1 when there is one,
# 2 when the comparison could not be made.
set -eu
usage() {
    echo "Usage: $0 OLD_DIR NEW_DIR [INPUT...]" >&2
    echo "       $0 --baseline COMMIT NEW_DIR [INPUT...]" >&2
    exit 2
}
fail() {
    echo "$0: $1" >&2
    exit 2
}
[ $# -ge 2 ] || usage
here=$(cd "$(dirname "$0")" && pwd)
jobs=$(nproc 2>/dev/null || echo 2)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One option set per line (scripts/diff_check_input.sh reads them): the tool,
# then its arguments; IN stands for the input, PIPE for it through a pipe,
# FIRST for its first program, OUT/ for the output folder, the current one.
options='rivulet -o . IN
rivulet -p FIRST -o . IN
rivulet -t tv -o . IN
rivulet -t radio,data -n {service}_{type}_{program} -o . IN
rivulet -s FIRST -n {service} -o . IN
rivulet --si -o . IN
rivulet --clean-start -o . IN
rivulet -e -o . IN
rivulet -e --margin 3,1 -o . IN
rivulet -e --clean-start --si -n {service}_{event_id}_{start} -o . IN
rivulet --report OUT/report.json -o . IN
rivulet -e --report OUT/report.json -o . IN
rivulet -b piped -o . PIPE
rivulet -b piped -e -o . PIPE
rivulet-ts programs IN
rivulet-ts programs --json IN
rivulet-ts check --json IN
rivulet-ts check --svg OUT/check.svg IN
rivulet-ts events --json IN
rivulet-ts dump IN
rivulet-ts dump --all IN
rivulet-ts extract --si --program FIRST IN OUT/extract.ts'
if [ -n "${DIFF_CHECK_SKIP:-}" ]; then
    options=$(printf '%s\n' "$options" | grep -v -e "$DIFF_CHECK_SKIP")
fi

# The generated inputs: a name, then rivulet-sample's arguments after it.
generated='filler_3prog.ts
filler_1prog.ts 0.25 1
filler_40prog.ts 1 40
filler_3prog_192.ts --packet-size 192 0.5 3
filler_2prog_204.ts --packet-size 204 0.5 2
playable_1prog.ts --playable 1
playable_3prog.ts --playable 3
playable_16prog.ts --playable 16
playable_4prog_204.ts --playable --packet-size 204 4
changes_1prog.ts --playable --changes 1
changes_4prog.ts --playable --changes 4
changes_16prog.ts --playable --changes 16
changes_3prog_192.ts --playable --changes --packet-size 192 3
changes_5prog_204.ts --playable --changes --packet-size 204 5'

# Builds rivulet and rivulet-ts of commit $1 of this repository into $2/build.
build_commit() {
    repo=$here/..
    git -C "$repo" rev-parse -q --verify "$1^{commit}" >/dev/null || fail "no commit $1 in $(cd "$repo" && pwd)"
    mkdir -p "$2/source"
    git -C "$repo" archive -o "$2/source.tar" "$1"
    tar -xf "$2/source.tar" -C "$2/source"
    echo "Building rivulet and rivulet-ts of $1..."
    if ! { cmake -S "$2/source" -B "$2/build" -DCMAKE_BUILD_TYPE=Release -DRIVULET_TESTS=OFF &&
        cmake --build "$2/build" -j "$jobs" --target rivulet rivulet-ts; } >"$2/log" 2>&1; then
        tail -n 30 "$2/log" >&2
        fail "the tools of $1 did not build"
    fi
}

# Writes the generated inputs into $1 and lists them, one a line: the
# generator's streams, then streams cut, joined and led by junk from them,
# and the chart's stream (names, lost packets) when NEW_DIR has its tool.
generate() {
    dir=$1
    mkdir -p "$dir"
    echo "$generated" | while IFS= read -r line; do
        name=${line%% *}
        # shellcheck disable=SC2086  # the arguments, split on blanks
        "$new/rivulet-sample" "$dir/$name" ${line#"$name"} >/dev/null || fail "rivulet-sample could not write $name"
        echo "$dir/$name"
    done
    head -c 400001 "$dir/changes_4prog.ts" >"$dir/cut_mid_packet.ts"
    tail -c +1001 "$dir/changes_16prog.ts" >"$dir/starts_mid_packet.ts"
    cat "$dir/filler_1prog.ts" "$dir/changes_4prog.ts" >"$dir/joined.ts"
    cat "$dir/filler_2prog_204.ts" "$dir/changes_3prog_192.ts" >"$dir/sizes_change.ts"
    { printf 'GG junk G%0300dG' 0 && cat "$dir/changes_3prog_192.ts"; } >"$dir/junk_first.ts"
    for derived in cut_mid_packet starts_mid_packet joined sizes_change junk_first; do
        echo "$dir/$derived.ts"
    done
    if [ -x "$new/rivulet-chart-sample" ]; then
        "$new/rivulet-chart-sample" "$dir/chart.ts" || fail "rivulet-chart-sample could not write chart.ts"
        echo "$dir/chart.ts"
    fi
}

if [ "$1" = --baseline ]; then
    [ $# -ge 3 ] || usage
    build_commit "$2" "$work/baseline"
    old=$work/baseline/build
    shift 2
else
    old=$(cd "$1" && pwd) || fail "no folder $1"
    shift
fi
new=$(cd "$1" && pwd) || fail "no folder $1"
shift
for tool in "$old/rivulet" "$old/rivulet-ts" "$new/rivulet" "$new/rivulet-ts"; do
    [ -x "$tool" ] || fail "no $tool"
done

if [ $# -eq 0 ]; then
    generate "$work/inputs" >"$work/inputs.list"
    samples=${RIVULET_SAMPLES:-$here/../../shared/samples}
    for capture in "$samples"/*.ts; do
        if [ -f "$capture" ]; then echo "$capture" >>"$work/inputs.list"; fi
    done
else
    for input in "$@"; do
        [ -f "$input" ] || fail "no input $input"
        echo "$(cd "$(dirname "$input")" && pwd)/$(basename "$input")"
    done >"$work/inputs.list"
fi
echo "$options" >"$work/options"

# Each input in a folder of its own, numbered in input order; its path and
# folder as a NUL-separated pair, so that any path passes whole.
n=0
while IFS= read -r input; do
    n=$((n + 1))
    printf '%s\0%s\0' "$work/$n" "$input"
done <"$work/inputs.list" >"$work/pairs"
xargs -0 -r -n 2 -P "$jobs" "$here/diff_check_input.sh" "$old" "$new" "$work/options" <"$work/pairs" ||
    fail "a comparison could not be made"

i=0
while [ "$i" -lt "$n" ]; do
    i=$((i + 1))
    cat "$work/$i/differences"
done >"$work/list"
cat "$work/list"
sets=$(grep -c . "$work/options")
echo "compared: $n inputs, $sets option sets, $((n * sets)) pairs of runs"
differences=$(wc -l <"$work/list")
echo "differences: $differences"
[ "$differences" -eq 0 ]
