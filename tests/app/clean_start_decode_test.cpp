// `rivulet --clean-start` checked by an independent decoder: files of streams
// that ffmpeg makes, cut mid-GOP, decode from their first packet, and their
// first picture is a key frame; so do the files of the demo's playable
// sample. Skipped without ffmpeg.

#include "tests/support/test.h"

namespace {

// A program found on the PATH.
Outcome onPath(const std::vector<std::string>& argv) { return runTool(argv, ":;"); }

bool haveFFmpeg() { return runTool({"/bin/sh", "-c", "command -v ffmpeg && command -v ffprobe"}).status == 0; }

// The decoder's complaints about `path`, `more` arguments in front of the output.
std::string decodeErrors(const std::string& path, const std::vector<std::string>& more = {}) {
    std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-i", path};
    argv.insert(argv.end(), more.begin(), more.end());
    argv.insert(argv.end(), {"-f", "null", "-"});
    return onPath(argv).err;
}

// "1,I" for a key frame.
std::string firstPicture(const std::string& path) {
    Outcome o = onPath({"ffprobe", "-v", "quiet", "-select_streams", "v:0", "-read_intervals", "%+#1",
                         "-show_entries", "frame=key_frame,pict_type", "-of", "csv=p=0", path});
    return o.out.substr(0, 3);
}

// Three programs of 6 s: H.264, HEVC and MPEG-2 video with a key frame every
// second, each with MPEG audio.
Bytes madeMux(const TempDir& dir) {
    std::string path = dir.file("mux.ts");
    Outcome made = onPath(
        {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=6", "-f", "lavfi", "-i",
         "testsrc2=size=320x240:rate=25:duration=6", "-f", "lavfi", "-i", "smptebars=size=320x240:rate=25:duration=6",
         "-f", "lavfi", "-i", "sine=duration=6", "-map", "0:v", "-map", "3:a", "-map", "1:v", "-map", "3:a", "-map",
         "2:v", "-map", "3:a", "-c:v:0", "libx264", "-c:v:1", "libx265", "-x265-params", "log-level=none", "-c:v:2",
         "mpeg2video", "-g", "25", "-c:a", "mp2", "-program", "program_num=1:st=0:st=1", "-program",
         "program_num=2:st=2:st=3", "-program", "program_num=3:st=4:st=5", "-f", "mpegts", path});
    EXPECT_EQ(made.status, 0) << made.err;
    Bytes mux = tsb::readFile(path);
    std::remove(path.c_str());
    return mux;
}

// The random_access_indicator of every packet cleared: the payload alone tells.
Bytes withoutRandomAccessIndicators(Bytes stream) {
    for (size_t at = 0; at + 188 <= stream.size(); at += 188) {
        if ((stream[at + 3] & 0x20) && stream[at + 4] > 0) stream[at + 5] &= 0xBF;
    }
    return stream;
}

// The mux with each program's present event announced at its start (1) and
// at 55% of it (2).
Bytes withEvents(const Bytes& mux) {
    Bytes out;
    uint8_t cc = 0;
    size_t middle = mux.size() / 188 * 11 / 20 * 188;
    for (size_t at = 0; at < mux.size(); at += 188) {
        for (uint16_t program : {1, 2, 3}) {
            if (at == 0 || at == middle) tsb::append(out, tsb::psiPacket(0x12, cc++ & 15, tsb::presentEventSection(program, at ? 1 : 0, at ? 2 : 1)));
        }
        out.insert(out.end(), mux.begin() + long(at), mux.begin() + long(at + 188));
    }
    return out;
}

TEST(CleanStartDecode, MadeStreamsCutMidGOPOrAtEventsDecodeFromTheirFirstPacket) {
    if (!haveFFmpeg()) GTEST_SKIP() << "no ffmpeg";
    TempDir made;
    Bytes mux = madeMux(made);
    Bytes cut(mux.begin() + long(mux.size() / 188 * 2 / 5 * 188), mux.end());
    for (const Bytes& input : {cut, withoutRandomAccessIndicators(cut)}) {
        TempDir dir;
        std::string in = dir.write("in.ts", input);
        ASSERT_EQ(runTool({RIVULET_TOOL, "--clean-start", in}).status, 0);
        for (const char* program : {"1", "2", "3"}) {
            std::string file = dir.file(std::string("in_") + program + "_0_0.ts");
            EXPECT_EQ(decodeErrors(file), "") << program;
            EXPECT_EQ(firstPicture(file), "1,I") << program;
        }
    }
    // Cut at events instead: the second file of each begins mid-GOP unless cut cleanly.
    TempDir dir;
    std::string in = dir.write("in.ts", withEvents(mux));
    ASSERT_EQ(runTool({RIVULET_TOOL, "-e", in}).status, 0);
    for (const char* program : {"1", "2", "3"}) {
        for (const char* event : {"1", "2"}) {
            std::string file = dir.file(std::string("in_") + program + "_0_0_" + event + ".ts");
            EXPECT_EQ(decodeErrors(file), "") << program << " " << event;
            EXPECT_EQ(firstPicture(file), "1,I") << program << " " << event;
        }
    }
}

// The demo's playable sample, split: each program's file decodes without a
// complaint and holds two streams, its video beginning with a key frame.
TEST(CleanStartDecode, DemoSampleFilesPlay) {
    if (!haveFFmpeg()) GTEST_SKIP() << "no ffmpeg";
    TempDir dir;
    std::string in = dir.file("sample.ts");
    ASSERT_EQ(runTool({RIVULET_SAMPLE_TOOL, "--playable", in}).status, 0);
    ASSERT_EQ(runTool({RIVULET_TOOL, in}).status, 0);
    for (const char* program : {"1", "2", "3"}) {
        std::string file = dir.file(std::string("sample_") + program + "_0_0.ts");
        EXPECT_EQ(decodeErrors(file), "") << program;
        Outcome streams = onPath({"ffprobe", "-v", "error", "-show_entries", "format=nb_streams", "-of", "csv=p=0", file});
        EXPECT_EQ(streams.out, "2\n") << program;
        EXPECT_EQ(firstPicture(file), "1,I") << program;
    }
}

}  // namespace
