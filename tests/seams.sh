#!/bin/sh
# The toolkit's seams: a room includes and calls only itself and the rooms
# below it, its files include the topic headers they need rather than the
# callers' umbrella header, and the library holds no mutable global beyond
# the documented ones.
#   tests/seams.sh SOURCE_DIR LIBRARY
# A room's objects are found in LIBRARY by the names of its .cpp files, and a
# symbol belongs to the room whose object defines it.
set -u
src=$1
library=$2
failed=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Rooms from the bottom up; a room may use its own and lower ranks.
cat >"$tmp/ranks" <<'RANKS'
core 0
packet 1
descriptor 1
section 2
video 2
stream 3
input 4
output 4
programs 4
tables 5
services 6
check 6
dump 6
pmt_split 6
split 7
RANKS
rank() { awk -v room="$1" '$1 == room { print $2; found = 1 } END { if (!found) print 99 }' "$tmp/ranks"; }

for file in "$src"/ts/*/*.h "$src"/ts/*/*.cpp; do
    room=$(basename "$(dirname "$file")")
    [ "$room" = include ] && continue
    if grep -q '^#include "rivulet/ts.h"' "$file"; then
        echo "${file#"$src"/} includes rivulet/ts.h, which is for callers; include the topic headers"
        failed=1
    fi
    for used in $(sed -n 's|^#include "ts/\([a-z_]*\)/.*|\1|p' "$file" | sort -u); do
        [ "$used" = "$room" ] && continue
        if [ "$(rank "$used")" -ge "$(rank "$room")" ]; then
            echo "${file#"$src"/} includes ts/$used/, which is not below ts/$room/"
            failed=1
        fi
    done
done

# Calls and data across rooms, by symbol: "object room" for every object, then
# "object symbol D" for each strong definition and "object symbol U" for each
# use of a symbol from another object (weak definitions, emitted wherever
# they are used, belong to no room).
for file in "$src"/ts/*/*.cpp; do
    echo "$(basename "$file").o $(basename "$(dirname "$file")")"
done >"$tmp/objects"
nm "$library" | awk '/\.o:$/ { object = substr($0, 1, length($0) - 1); next }
    NF == 3 && $2 ~ /^[TDBR]$/ { print object, $3, "D" }
    NF == 2 && $1 == "U" { print object, $2, "U" }' >"$tmp/symbols"
# A use in an object of one room of a symbol another room defines, that room
# not below it.
awk 'FILENAME == ARGV[1] { rank[$1] = $2; next }
    FILENAME == ARGV[2] { room[$1] = $2; next }
    $3 == "D" { owner[$2] = room[$1]; next }
    { uses[++n] = $1 " " $2 }
    END {
        for (i = 1; i <= n; ++i) {
            split(uses[i], use, " ")
            from = room[use[1]]
            to = owner[use[2]]
            if (to == "" || to == from || rank[to] < rank[from]) continue
            source = "ts/" from "/" substr(use[1], 1, length(use[1]) - 2)
            print source " uses " use[2] " of ts/" to "/, which is not below ts/" from "/"
        }
    }' "$tmp/ranks" "$tmp/objects" "$tmp/symbols" | c++filt >"$tmp/up"

# The same in the inline code of a room's headers, by the names of the
# library's global functions and data ("name room").
awk '$3 == "D" { print $2, $1 }' "$tmp/symbols" | c++filt |
    sed -n 's/^\([A-Za-z_][A-Za-z0-9_]*\)\((.*\)\{0,1\} \([^ ]*\.o\)$/\1 \3/p' |
    awk 'FILENAME == ARGV[1] { room[$1] = $2; next } { print $1, room[$2] }' "$tmp/objects" - >"$tmp/globals"
for file in "$src"/ts/*/*.h; do
    room=$(basename "$(dirname "$file")")
    [ "$room" = include ] && continue
    sed 's|//.*||' "$file" | tr -cs 'A-Za-z0-9_' '\n' | sort -u |
        awk -v room="$room" -v file="${file#"$src"/}" 'FILENAME == ARGV[1] { rank[$1] = $2; next }
            FILENAME == ARGV[2] { owner[$1] = $2; next }
            ($1 in owner) && owner[$1] != room && rank[owner[$1]] >= rank[room] {
                print file " uses " $1 " of ts/" owner[$1] "/, which is not below ts/" room "/"
            }' "$tmp/ranks" "$tmp/globals" - >>"$tmp/up"
done
[ -s "$tmp/up" ] && cat "$tmp/up" && failed=1

# Writable data of the library (.data and .bss, not constants), by name.
cat >"$tmp/allowed" <<'NAMES'
g_lu8Buffer
g_strString1
g_strString2
g_tData
g_tPNSplitData
g_tSimpleData
rivulet::g_stopRequested
(anonymous namespace)::g_progressCallback
(anonymous namespace)::g_progressUser
(anonymous namespace)::g_stdoutBuffer
DW.ref.__gxx_personality_v0
NAMES
# AddressSanitizer's one-definition markers (__odr_asan.NAME) stand beside the
# globals they mark, not for data of their own.
objdump -t "$library" | awk '/ \.(bss|data)[ \t.]/ && !/data\.rel\.ro/ && $NF !~ /^(\.|__odr_asan\.)/ {print $NF}' |
    c++filt | sort -u |
    grep -Fxv -f "$tmp/allowed" | sed 's/^/mutable global not among the documented ones: /' >"$tmp/extra"
[ -s "$tmp/extra" ] && cat "$tmp/extra" && failed=1
exit $failed
