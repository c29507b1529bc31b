#!/bin/sh
# Compares two builds of the tools on one input, under every option set of
# OPTIONS_FILE: every file they write, standard output, standard error and the
# exit status. Writes one line per option set that differs to
# WORK_DIR/differences (empty when none does). scripts/diff_check.sh runs it
# once per input, several side by side.
#
# Usage: scripts/diff_check_input.sh OLD_DIR NEW_DIR OPTIONS_FILE WORK_DIR INPUT
#
# OPTIONS_FILE holds one option set a line: the tool, then its arguments, in
# which IN stands for the input, PIPE for the input through a pipe on
# standard input, FIRST for the input's first program and OUT/ for the
# output folder, which is also the current folder.
set -euf
if [ $# -ne 5 ]; then
    echo "Usage: $0 OLD_DIR NEW_DIR OPTIONS_FILE WORK_DIR INPUT" >&2
    exit 2
fi
old=$1 new=$2 options=$3 work=$4 input=$5
# A run that outlasts this ends with status 124, which shows as a difference.
limit=${RIVULET_DIFF_TIMEOUT:-300}
mkdir -p "$work"
first=$("$new/rivulet-ts" programs "$input" 2>/dev/null | sed -n 's/^program \([0-9]*\) .*/\1/p' | head -n 1)
first=${first:-1}

# Runs the option set $2 with the tools of $1 into the folder $3.
run() {
    bin=$1 line=$2 out=$3
    mkdir -p "$out"
    source=
    set --
    # The set's words, split on blanks (no file name expansion: set -f).
    for word in $line; do
        case $word in
        rivulet | rivulet-ts) word=$bin/$word ;;
        IN) word=$input ;;
        PIPE) word=- source=$input ;;
        FIRST) word=$first ;;
        OUT/*) word=$out/${word#OUT/} ;;
        esac
        set -- "$@" "$word"
    done
    if [ -n "$source" ]; then
        # shellcheck disable=SC2002  # a pipe on standard input, as a recorder gives
        (cd "$out" && { cat "$source" | timeout "$limit" "$@" >stdout 2>stderr && echo 0 || echo $?; } >status)
    else
        (cd "$out" && { timeout "$limit" "$@" </dev/null >stdout 2>stderr && echo 0 || echo $?; } >status)
    fi
    # The two runs differ in their folders and tools only: the texts name neither.
    for text in "$out"/stdout "$out"/stderr "$out"/report.json; do
        if [ -f "$text" ]; then sed -i "s|$out|OUT|g; s|$bin|BIN|g" "$text"; fi
    done
}

: >"$work/differences"
while IFS= read -r line; do
    rm -rf "$work/old" "$work/new"
    run "$old" "$line" "$work/old"
    run "$new" "$line" "$work/new"
    if ! diff -r "$work/old" "$work/new" >/dev/null 2>&1; then
        what=$(diff -rq "$work/old" "$work/new" 2>&1 | sed "s|$work/||g" | head -n 3 | tr '\n' ' ')
        echo "differs: $(basename "$input") [$line]: $what" >>"$work/differences"
    fi
done <"$options"
rm -rf "$work/old" "$work/new"
