#!/usr/bin/env bash
# Seeds small faults into the sources, one at a time, and tells which ones the
# test suite catches: a rough measure of how much the tests really check.
#
#   scripts/seed_faults.sh [COUNT] [SEED] [BUILD_DIR]     (defaults: 30 1 build/rel)
#
# BUILD_DIR must already be configured and built (see README). A fault is one
# comparison flipped (< <=, > >=, == !=, each way) or one integer literal moved
# by one, at a site drawn with SEED from the code (not comments, strings or
# preprocessor lines) of every .cpp and .h under ts/ and app/. Each fault is
# built incrementally; one that does not compile is replaced by the next draw,
# so COUNT compiled faults are tested. Prints one line per fault,
#   caught|SURVIVED file:line:col: before -> after
# then "caught N of COUNT". The sources are restored after each fault and on
# exit or interrupt. Same tree and seed, same faults.
set -u
count=${1:-30}
seed=${2:-1}
build=${3:-build/rel}
cd "$(dirname "$0")/.."
[ -f "$build/CMakeCache.txt" ] || { echo "$build is not a configured build directory" >&2; exit 2; }

tmp=$(mktemp -d)
current=""  # the file that holds a fault right now; its original is $tmp/orig
restore() {
    if [ -n "$current" ]; then
        cat "$tmp/orig" >"$current"  # new mtime, so the next build recompiles it
        current=""
    fi
}
trap 'restore; rm -rf "$tmp"' EXIT
trap 'exit 130' INT TERM HUP

# SEED_JOBS: compile jobs (default 1, so that the machine stays usable).
build_tree() { nice -n 19 cmake --build "$build" -j"${SEED_JOBS:-1}" >"$tmp/build.log" 2>&1; }
# --stop-on-failure: one failing test is enough. The tests carry their own
# TIMEOUT (which beats --timeout), so the whole run is bounded too: a fault
# that makes the suite hang counts as caught.
# A fault may make a tool write without end: the tests' folders go under a
# folder of this run's, emptied after each run, and no file grows past 8 GiB
# (the large-file test needs a little over 4).
# The check of the outputs by ffprobe takes half a minute: faults are judged
# by the suite's own tests.
unjudging=Components.AsFFprobeSeesThem
run_tests() {
    mkdir -p "$tmp/t" && chmod 711 "$tmp" && chmod 1777 "$tmp/t"  # as /tmp: some tests run as nobody
    (cd "$build" && ulimit -f $((8 * 1024 * 1024)) &&
        TMPDIR="$tmp/t" timeout -k 10 "$suite_limit" nice -n 19 ctest -j2 --timeout 60 --stop-on-failure -E "$unjudging") \
        >"$tmp/test.log" 2>&1 </dev/null
    local status=$?
    # A tool a fault sent into a loop outlives the test that timed out on it.
    pkill -KILL -f "^$PWD/$build/" 2>/dev/null
    rm -rf "$tmp/t"
    return $status
}

# Every candidate site, with its fault, in the seeded order:
# file, byte offset, line, column, before, after (tab-separated).
python3 - "$seed" >"$tmp/sites" <<'EOF'
import pathlib, random, re, sys

PUNCT = sorted("""<=> <<= >>= ->* ... << >> <= >= == != && || -> :: ++ -- += -= *= /= %= &= |= ^= ##
    < > = ; { } ( ) [ ] , . : ? ! ~ + - * / % & | ^ #""".split(), key=len, reverse=True)
FLIP = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
INT = re.compile(r"(0[xX][0-9a-fA-F']+|[1-9][0-9']*|0)((?:[uU](?:ll|LL|l|L|z|Z)?|(?:ll|LL|l|L|z|Z)[uU]?)?)$")
STRING_PREFIX = re.compile(r"(u8|u|U|L)?R?$")

def tokens(src):
    """(kind, text, offset) for code tokens; comments, literals of text and
    preprocessor lines are skipped."""
    i, n, line_start = 0, len(src), True
    while i < n:
        c = src[i]
        if c == "\n":
            i, line_start = i + 1, True
            continue
        if c.isspace():
            i += 1
            continue
        if line_start and c == "#":  # directive, with its continuation lines
            while i < n and src[i] != "\n":
                i += 2 if src.startswith("\\\n", i) else 1
            continue
        line_start = False
        if src.startswith("//", i):
            i = src.find("\n", i) % (n + 1)  # up to the newline, or the end
        elif src.startswith("/*", i):
            i = src.find("*/", i + 2) % (n + 1) + 2
        elif c.isalpha() or c == "_":
            j = i
            while j < n and (src[j].isalnum() or src[j] == "_"):
                j += 1
            word = src[i:j]
            if j < n and src[j] in "\"'" and STRING_PREFIX.match(word):
                i = skip_quoted(src, j, raw=word.endswith("R"))
            else:
                yield "id", word, i
                i = j
        elif c.isdigit() or (c == "." and i + 1 < n and src[i + 1].isdigit()):
            j = i + 1
            while j < n and (src[j].isalnum() or src[j] in "_.'" or
                             (src[j] in "+-" and src[j - 1] in "eEpP")):
                j += 1
            yield "num", src[i:j], i
            i = j
        elif c in "\"'":
            i = skip_quoted(src, i, raw=False)
        else:
            p = next((p for p in PUNCT if src.startswith(p, i)), c)
            yield "op", p, i
            i += len(p)

def skip_quoted(src, i, raw):
    q = src[i]
    if raw:  # R"delim( ... )delim"
        delim = src[i + 1:src.index("(", i)]
        return src.index(")" + delim + '"', i) + len(delim) + 2
    i += 1
    while i < len(src) and src[i] != q:
        i += 2 if src[i] == "\\" else 1
    return i + 1

def template_brackets(toks):
    """Indexes of the < and > that enclose template arguments: a < after a
    name whose matching > comes before anything that ends an expression."""
    found = set()
    for k, (kind, text, _) in enumerate(toks):
        if text != "<" or k == 0 or toks[k - 1][0] != "id" or toks[k - 1][1] == "operator":
            continue
        depth, parens, inner = 1, 0, []
        for m in range(k + 1, len(toks)):
            t = toks[m][1]
            if t in ("(", "["):
                parens += 1
            elif t in (")", "]"):
                parens -= 1
                if parens < 0:
                    break
            elif t in (";", "{", "}", "&&", "||") and parens == 0:
                break
            elif t == "<":
                depth += 1
                inner.append(m)
            elif t in (">", ">>"):
                depth -= len(t)
                inner.append(m)
                if depth <= 0:
                    found.update([k] + inner)
                    break
    return found

def literal_fault(text, rng):
    m = INT.match(text)
    if not m:
        return None  # floats, octal, binary, user-defined suffixes
    digits, suffix = m.group(1).replace("'", ""), m.group(2)
    value = int(digits, 0)
    value += 1 if value == 0 else rng.choice((1, -1))
    if digits[:2] in ("0x", "0X"):
        body = digits[2:]
        case = "x" if body != body.upper() else "X"  # keep lower case digits if it had any
        hexed = format(value, "0%d%s" % (len(body), case))
        return digits[:2] + hexed + suffix
    return str(value) + suffix

rng = random.Random(int(sys.argv[1]))
sites = []
files = sorted(p for d in ("ts", "app") for p in pathlib.Path(d).rglob("*") if p.suffix in (".cpp", ".h"))
for path in files:
    src = path.read_text(encoding="latin-1")
    toks = list(tokens(src))
    brackets = template_brackets(toks)
    for k, (kind, text, off) in enumerate(toks):
        after = None
        if kind == "op" and text in FLIP and k not in brackets:
            prev = toks[k - 1][1] if k else ""
            if prev not in ("operator", "template"):
                after = FLIP[text]
        elif kind == "num":
            after = literal_fault(text, rng)
        if after:
            line = src.count("\n", 0, off) + 1
            col = off - src.rfind("\n", 0, off)
            sites.append((str(path), off, line, col, text, after))
rng.shuffle(sites)
for s in sites:
    print("\t".join(map(str, s)))
EOF
[ -s "$tmp/sites" ] || { echo "no candidate sites found" >&2; exit 2; }

# The suite must pass as it is, or no fault can be told apart.
build_tree || { echo "the unchanged tree does not build (see $build)" >&2; exit 2; }
start=$(date +%s)
suite_limit=600
run_tests || { echo "the unchanged tree fails its tests" >&2; cat "$tmp/test.log" >&2; exit 2; }
suite_limit=$(( ($(date +%s) - start) * 10 ))
[ "$suite_limit" -ge 120 ] || suite_limit=120

tested=0 caught=0 broken=0
while [ "$tested" -lt "$count" ] && IFS=$'\t' read -r file off line col before after <&3; do
    cp "$file" "$tmp/orig"
    current=$file
    python3 - "$file" "$off" "$before" "$after" <<'EOF'
import sys
path, off, before, after = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
src = open(path, encoding="latin-1", newline="").read()
assert src[off:off + len(before)] == before, (path, off, before)
open(path, "w", encoding="latin-1", newline="").write(src[:off] + after + src[off + len(before):])
EOF
    site="$file:$line:$col: $before -> $after"
    if ! build_tree; then
        broken=$((broken + 1))
        echo "  (does not compile: $site)" >&2
        restore
        continue
    fi
    tested=$((tested + 1))
    run_tests
    status=$?
    if [ "$status" -eq 0 ]; then
        echo "SURVIVED $site"
    else
        caught=$((caught + 1))
        # 124 or 137: timeout stopped a suite that ran too long
        case $status in 124|137) echo "caught $site (suite timed out)" ;; *) echo "caught $site" ;; esac
    fi
    restore
done 3<"$tmp/sites"

[ "$broken" -eq 0 ] || echo "($broken more faults did not compile and were replaced)"
echo "caught $caught of $tested"
