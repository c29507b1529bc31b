#!/bin/sh
# The streams a split keeps, as an independent reader sees them: for each
# --drop kind and --audio choice, ffprobe lists in every file exactly the
# streams it lists in the plain split's file of the same program, less those
# the option leaves out (told apart by ffprobe's own codec names and
# language tags). Over a stream made by ffmpeg (H.264, HEVC and MPEG-2, four
# audio languages) and the captures. Skipped (77) without ffmpeg.
# Usage: components_ffprobe.sh RIVULET [CAPTURES]
set -eu
rivulet=$1
captures=${RIVULET_SAMPLES:-${2:-}}
command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1 || exit 77
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -v error -f lavfi -i testsrc2=s=320x240:r=25:d=2 -f lavfi -i sine=d=2 \
    -map 0:v -map 1:a -map 1:a -map 1:a -map 0:v -map 1:a -map 0:v -map 1:a \
    -c:v:0 libx264 -c:v:1 libx265 -x265-params log-level=none -c:v:2 mpeg2video -c:a mp2 -c:a:3 ac3 \
    -metadata:s:a:0 language=eng -metadata:s:a:1 language=fra -metadata:s:a:2 language=deu \
    -metadata:s:a:3 language=spa -metadata:s:a:4 language=fra \
    -program st=0:st=1:st=2:st=3 -program st=4:st=5 -program st=6:st=7 -f mpegts "$work/made.ts"

# A file's streams: one line each, "id codec_type codec_name language" (ffprobe
# lists them under their program too, without tags: the last listing holds).
streams() {
    ffprobe -v quiet -show_entries stream=id,codec_type,codec_name:stream_tags=language -of compact "$1" |
        awk -F'|' '$1 == "stream" { id = ""; type = ""; name = ""; lang = "-"
                     for (i = 2; i <= NF; i++) { split($i, kv, "=")
                         if (kv[1] == "id") id = kv[2]; else if (kv[1] == "codec_type") type = kv[2]
                         else if (kv[1] == "codec_name") name = kv[2]; else if (kv[1] == "tag:language") lang = kv[2] }
                     if (!(id in line)) order[++n] = id
                     line[id] = id " " type " " name " " lang }
                 END { for (i = 1; i <= n; i++) print line[order[i]] }'
}

# The ids of the streams of the plain split's file, whose streams() are in
# $1, that option $2 $3 keeps.
kept() {
    awk -v option="$2" -v value="$3" '
        { id[NR] = $1; type[NR] = $2; name[NR] = $3; lang[NR] = $4 }
        END {
            for (i = 1; i <= NR; i++) if (type[i] == "audio") {
                if (!first) first = id[i]
                if (index("," value ",", "," lang[i] ",")) matched = 1
            }
            for (i = 1; i <= NR; i++) {
                drop = 0
                if (option == "--drop" && (value == "video" || value == "audio")) drop = type[i] == value
                if (option == "--drop" && value == "subtitles") drop = name[i] == "dvb_subtitle" || name[i] == "arib_caption"
                if (option == "--drop" && value == "teletext") drop = name[i] == "dvb_teletext"
                if (option == "--drop" && value == "scte35") drop = name[i] == "scte_35"
                if (option == "--audio" && type[i] == "audio" && (value == "first" || !matched)) drop = id[i] != first
                if (option == "--audio" && type[i] == "audio" && value != "first" && matched) drop = !index("," value ",", "," lang[i] ",")
                if (!drop) print id[i]
            }
        }' "$1" | sort
}

# The ids of a file's streams; probing a little of it is enough for those.
ids() {
    ffprobe -v quiet -probesize 500000 -analyzeduration 0 -show_entries stream=id -of compact "$1" |
        sed -n 's/.*|id=\(0x[0-9a-f]*\).*/\1/p' | sort -u
}

failures=0
check() { # input
    rm -rf "$work/plain" && mkdir "$work/plain"
    "$rivulet" -o "$work/plain" "$1" >/dev/null 2>&1 || return 0
    for plain in "$work"/plain/*; do streams "$plain" >"$plain.streams"; done
    for choice in "--drop video" "--drop audio" "--drop subtitles" "--drop teletext" "--drop scte35" \
        "--audio first" "--audio fra" "--audio deu,spa" "--audio zzz"; do
        rm -rf "$work/out" && mkdir "$work/out"
        # shellcheck disable=SC2086
        "$rivulet" $choice -o "$work/out" "$1" >/dev/null 2>&1 || true
        for plain in "$work"/plain/*.streams; do
            [ -s "$plain" ] || continue
            file=$work/out/$(basename "$plain" .streams)
            want=$(kept "$plain" $choice)
            got=$(ids "$file")
            if [ "$want" != "$got" ]; then
                echo "$(basename "$1") $choice $(basename "$plain"): ffprobe lists" $got "instead of" $want
                failures=$((failures + 1))
            fi
        done
    done
}

check "$work/made.ts"
# Captures where ffprobe cannot be the judge: a file that holds no whole PMT
# section (the component stage writes none, where the plain split copies
# the damaged ones), a private stream without descriptors that ffprobe names
# from its payload, audio streams without packets it has nothing to name by.
unjudged="corrupt_tei_crc.ts m2ts_192byte_ffmpeg.ts isdb_tb_204byte_2prog_1seg.ts"
if [ -n "$captures" ] && [ -d "$captures" ]; then
    for capture in "$captures"/*.ts; do
        case " $unjudged " in *" $(basename "$capture") "*) continue ;; esac
        check "$capture"
    done
fi
[ "$failures" -eq 0 ]
