#!/bin/sh
# The toolkit's seams: a room includes only itself and the rooms below it,
# and the library holds no mutable global beyond the documented ones.
#   tests/seams.sh SOURCE_DIR LIBRARY
set -u
src=$1
library=$2
failed=0

# Rooms from the bottom up; a room may include its own and lower ranks.
rank() {
    case $1 in
    core) echo 0 ;;
    packet | descriptor) echo 1 ;;
    section | stream | video) echo 2 ;;
    input | output | programs) echo 3 ;;
    tables) echo 4 ;;
    split | services | check | dump | pmt_split) echo 5 ;;
    *) echo 99 ;;
    esac
}
for file in "$src"/ts/*/*.h "$src"/ts/*/*.cpp; do
    room=$(basename "$(dirname "$file")")
    [ "$room" = include ] && continue
    for used in $(sed -n 's|^#include "ts/\([a-z_]*\)/.*|\1|p' "$file" | sort -u); do
        [ "$used" = "$room" ] && continue
        if [ "$(rank "$used")" -ge "$(rank "$room")" ]; then
            echo "${file#"$src"/} includes ts/$used/, which is not below ts/$room/"
            failed=1
        fi
    done
done

# Writable data of the library (.data and .bss, not constants), by name.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
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
