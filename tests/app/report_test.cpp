// rivulet --report on a built 2-program stream with a drop, a transport
// error and a scrambled stretch at counted places: each file's figures as
// the construction gives them, also when a signal ends a followed split.
// The splitter's file list holds every file, however many.

#include <memory>
#include <tuple>

#include <nlohmann/json.hpp>

#include "tests/support/test.h"

namespace {

constexpr uint64_t kSteps = 50;  // of 40 ms: PCRs from 0 to 1.96 s

struct Built {
    Bytes stream;
    size_t last[3] = {};     // index of the last packet of program 1 and 2
    size_t packets[3] = {};  // packets each file gets: rebuilt PATs, PMT and video
};

// Program p: PMT 0xp00, video and PCR on 0xp11. Program 1 loses a packet at
// step 10 and has a packet with transport_error_indicator at step 20;
// program 2 sends 3 scrambled packets at step 30.
Built twoPrograms() {
    Built b;
    tsb::Stream188 s;
    for (uint64_t step = 0; step < kSteps; ++step) {
        if (step % 25 == 0) {
            s.pat({{1, 0x100}, {2, 0x200}});
            for (uint16_t p : {1, 2}) {
                b.last[p] = s.section(uint16_t(p << 8), tsb::pmtSection(p, uint16_t(p << 8 | 0x11), {}, {{0x02, uint16_t(p << 8 | 0x11), {}}}));
                b.packets[p] += 2;  // the rebuilt PAT and the PMT
            }
            s.section(0x11, sdtSection({{1, "News"}, {2, "Sport"}}));
        }
        if (step == 10) s.cc[0x111] = 5;  // instead of 4: one lost
        for (uint16_t p : {1, 2}) {
            uint16_t video = uint16_t(p << 8 | 0x11);
            s.add(pcrPacket(video, step * 3600));
            uint8_t scrambling = p == 2 && step == 30 ? 2 : 0;
            for (int i = 0; i < 3; ++i) {
                b.last[p] = s.add(tsb::packet({.pid = video, .cc = s.cc[video]++, .scrambling = scrambling}));
                s.cc[video] &= 15;
            }
            if (p == 1 && step == 20) b.last[p] = s.add(tsb::packet({.pid = video, .cc = 9, .tei = true}));
            b.packets[p] += 4 + (p == 1 && step == 20);
        }
    }
    b.stream = s.bytes;
    return b;
}

}  // namespace

TEST(Report, EachFileWithTheFiguresOfItsStretch) {
    Built b = twoPrograms();
    TempDir dir;
    std::string in = dir.write("in.ts", b.stream);
    Outcome run = runTool({RIVULET_TOOL, "--report", dir.file("r.json"), in});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json report = nlohmann::json::parse(tsb::readFile(dir.file("r.json")));
    EXPECT_EQ(report["complete"], true);
    ASSERT_EQ(report["inputs"].size(), 1u);
    EXPECT_EQ(report["inputs"][0]["input"], in);
    nlohmann::json outputs = report["inputs"][0]["outputs"];
    ASSERT_EQ(outputs.size(), 2u);
    const std::tuple<const char*, uint64_t, uint64_t, uint64_t> wants[] = {{"News", 1, 1, 0}, {"Sport", 0, 0, 3}};
    for (uint16_t p : {1, 2}) {
        const auto& [service, ccErrors, tei, scrambled] = wants[p - 1];
        // The first PAT opened both files.
        const nlohmann::json expected = {{"path", dir.file("in_" + std::to_string(p) + "_0_0.ts")}, {"program_number", p},
                                         {"service_name", service}, {"duplicate", 0}, {"revision", 0},
                                         {"packets", b.packets[p]}, {"bytes", b.packets[p] * 188}, {"pids", {0, p << 8, p << 8 | 0x11}},
                                         {"first_offset", 0}, {"last_offset", b.last[p] * 188 + 187}, {"duration_s", 1.96},
                                         {"cc_errors", ccErrors}, {"tei", tei}, {"scrambled", scrambled}};
        nlohmann::json output = outputs[p - 1];
        // The verdict: the video's figures (its PCRs among its packets) over the whole file, which no cut ends.
        EXPECT_EQ(output["programme"]["kinds"]["video"]["cc_errors"], ccErrors) << p;
        EXPECT_EQ(output["programme"]["kinds"]["video"]["scrambled"], scrambled) << p;
        EXPECT_EQ(output["programme"]["from_offset"], 0) << p;
        EXPECT_TRUE(output["programme"]["to_offset"].is_null()) << p;
        EXPECT_FALSE(output.contains("margins")) << p;
        EXPECT_EQ(output["verdict"], "damaged") << p;
        for (const char* key : {"programme", "verdict", "reasons"}) output.erase(key);
        EXPECT_EQ(output, expected) << p;
    }
    // Streams chosen (none left out here): the report still sees every packet the files take.
    run = runTool({RIVULET_TOOL, "--drop", "data", "--report", dir.file("chosen.json"), in});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(tsb::readFile(dir.file("chosen.json")))["inputs"][0]["outputs"], outputs);
    // A followed recording stopped by SIGTERM: the report covers what was read.
    TempDir stopped;
    run = runTool({"/bin/sh", "-c", "\"$0\" --follow=0 -o \"$3\" --report \"$1\" \"$2\" & sleep 1; kill -TERM $!; wait $!",
                   RIVULET_TOOL, dir.file("stopped.json"), in, stopped.path()});
    EXPECT_EQ(run.status, 143) << run.err;
    report = nlohmann::json::parse(tsb::readFile(dir.file("stopped.json")));
    EXPECT_EQ(report["complete"], false);
    outputs = report["inputs"][0]["outputs"];
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[1]["packets"], b.packets[2]);
    // Files cut by a full disk (a file size limit here): the report tells what they hold.
    TempDir cut;
    run = runTool({RIVULET_TOOL, "-o", cut.path(), "--report", dir.file("cut.json"), in}, "trap '' XFSZ; ulimit -f 9;");
    EXPECT_EQ(run.status, 1);
    report = nlohmann::json::parse(tsb::readFile(dir.file("cut.json")));
    for (const auto& o : report["inputs"][0]["outputs"]) {
        uint64_t size = tsb::readFile(o["path"]).size();
        EXPECT_EQ(o["bytes"], size);
        EXPECT_EQ(o["packets"], size / 188);
        EXPECT_LT(size, 9u * 512);
    }
}

// A program that leaves every other PAT comes back in a file of its next
// revision each time: 300 files, every one in the list, in order. Its
// stream is on PID 1, the lowest a file's PID list can hold beside the PAT's.
TEST(Report, ListsEveryFileHoweverMany) {
    constexpr uint32_t kFiles = 300;
    tsb::Stream188 s;
    for (uint32_t i = 0; i < kFiles; ++i) {
        s.pat({{1, 0x100}});
        s.section(0x100, tsb::pmtSection(1, 0x001, {}, {{0x02, 0x001, {}}}));
        s.es(0x001);
        s.pat({});
    }
    TempDir dir;
    TS_SplitOptions options{};
    options.strOutputDir = dir.path().c_str();
    TS_SplitFileList list{};
    TS_Splitter* splitter = TS_Splitter_Open("in.ts", &options);
    ASSERT_NE(splitter, nullptr);
    ASSERT_EQ(TS_Splitter_SetFileList(splitter, &list), 0);
    EXPECT_EQ(TS_Splitter_Feed(splitter, s.bytes.data(), s.bytes.size()), 0);
    EXPECT_EQ(TS_Splitter_Close(splitter), 0);
    ASSERT_EQ(list.u32Count, kFiles);
    for (uint32_t i : {0u, 255u, 256u, kFiles - 1}) {
        SCOPED_TRACE(i);
        const TS_SplitFileReport& file = list.ltFile[i];
        EXPECT_EQ(file.strPath, dir.file("in_1_0_" + std::to_string(i) + ".ts"));
        EXPECT_EQ(file.u64Revision, i);
        EXPECT_EQ(file.u64Packets, 3u);  // the rebuilt PAT, the PMT and the stream packet
        EXPECT_EQ(std::vector<uint16_t>(file.lu16PID, file.lu16PID + file.u16PIDCount), (std::vector<uint16_t>{0, 1, 0x100}));
        EXPECT_EQ(file.u64FirstOffset, i * 4 * 188);
        EXPECT_EQ(file.u64LastOffset, i * 4 * 188 + 3 * 188 - 1);
    }
    TS_SplitFileList_Release(&list);
    // The former fixed report, kept for its callers, holds the first 256 and counts the rest.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    auto fixed = std::make_unique<TS_SplitReport>();
    splitter = TS_Splitter_Open("again.ts", &options);
    EXPECT_EQ(TS_Splitter_SetReport(splitter, nullptr), -1);
    ASSERT_EQ(TS_Splitter_SetReport(splitter, fixed.get()), 0);
    EXPECT_EQ(TS_Splitter_Feed(splitter, s.bytes.data(), s.bytes.size()), 0);
    EXPECT_EQ(TS_Splitter_Close(splitter), 0);
    EXPECT_EQ(fixed->u32Count, 256u);
    EXPECT_EQ(fixed->u32Dropped, kFiles - 256);
    EXPECT_EQ(fixed->ltFile[255].strPath, dir.file("again_1_0_255.ts"));
#pragma GCC diagnostic pop
}
