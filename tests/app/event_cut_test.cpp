// `rivulet -e` on a 30 s recording of two programs whose events change at
// known pictures: the event files of a program hold its packets once each, in
// order, and each after the first opens at an access point.

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <set>

#include <nlohmann/json.hpp>

#include "tests/support/test.h"

namespace {

constexpr int kFrames = 750;  // 25 per second
constexpr int kGOP = 12;      // pictures from one access point to the next

// ATSC's tables, laid out by hand. T is 2026-12-08 20:00:00 UTC in seconds
// since 1980-01-06; GPS time, which the STT and EIT-0 give, is ahead by kGPSOffset.
constexpr uint32_t kT = 1480795200;
constexpr uint8_t kGPSOffset = 18;

Bytes u32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

// MGT: the TVCT (type 0x0000, PID 0x1FFB), then EIT-0 (type 0x0100) on PID 0x1D00.
Bytes mgt() {
    return tsb::section(0xC7, 0, 0, {0, 0x00, 0x02, 0x00, 0x00, 0xFF, 0xFB, 0xE0, 0, 0, 0, 0, 0xF0, 0x02, 0x80, 0x00,
                                     0x01, 0x00, 0xFD, 0x00, 0xE0, 0, 0, 0, 0, 0xF0, 0x00, 0xF0, 0x00});
}

// TVCT of transport stream 1: channels 7.1 (program 1, source 5), 7.2
// (program 2, source 7), a channel of stream 0x999 that also says program 1
// (source 6), and an analog channel (program 0xFFFF) of that source.
Bytes tvct() {
    Bytes body = {0, 4};
    for (auto [minor, tsid, program, source] : {std::tuple{1, 1, 1, 5}, {2, 1, 2, 7}, {3, 0x999, 1, 6}, {4, 1, 0xFFFF, 6}}) {
        tsb::append(body, {0, 'K', 0, 'A', 0, 'T', 0, 'S', 0, 0, 0, 0, 0, 0});
        tsb::append(body, {0xF0, 0x1C, uint8_t(minor), 0x04, 0, 0, 0, 0, uint8_t(tsid >> 8), uint8_t(tsid),
                           uint8_t(program >> 8), uint8_t(program), 0x0D, 0xC2, 0, uint8_t(source), 0xFC, 0x00});
    }
    tsb::append(body, {0xFC, 0x00});
    return tsb::section(0xC8, 1, 0, body);
}

// STT: system_time T + second + the GPS-UTC offset.
Bytes stt(uint32_t second) { return tsb::section(0xCD, 0, 0, tsb::concat({{0}, u32(kT + second + kGPSOffset), {kGPSOffset, 0x60, 0x00}})); }

// EIT-0 of `source`, `version`: events (id, start - T, length), the first titled
// "Ne�ws" in three segments: Latin-1 "Ne", a compressed one that is left
// out, and UTF-16 of a lone low surrogate and "ws"; a segment's worth of bytes
// past them is not the title's; then a descriptor of odd length. `counted`
// of the events are in num_events_in_section, the rest only bytes after them.
Bytes atscEIT(uint16_t source, const std::vector<std::tuple<uint16_t, int, uint32_t>>& events, uint8_t version = 0,
              size_t counted = SIZE_MAX) {
    Bytes body = {0, uint8_t(std::min(events.size(), counted))};
    for (const auto& [id, start, length] : events) {
        Bytes title = &id == &std::get<0>(events.front()) ? Bytes{1, 'e', 'n', 'g', 3, 0, 0, 2, 'N', 'e', 1, 0, 1, 'X', 0, 0x3F, 6, 0xDC, 0, 0, 'w', 0, 's', 0, 0, 1, '!'} : Bytes{};
        tsb::append(body, tsb::concat({{uint8_t(0xC0 | id >> 8), uint8_t(id)}, u32(uint32_t(int64_t(kT) + start + kGPSOffset)),
                                       {uint8_t(0xC0 | length >> 16), uint8_t(length >> 8), uint8_t(length), uint8_t(title.size())},
                                       title, title.empty() ? Bytes{0xF0, 0x00} : Bytes{0xF0, 0x03, 0x80, 0x01, 0x00}}));
    }
    return tsb::section(0xCB, source, version, body);
}

// Programs 1 and 2: a picture is a video PES of three packets (PCR in its
// first, random_access_indicator every kGOP pictures), and an audio packet
// that begins a PES every other picture.
// DVB: announcements at picture (program, event): 3 (1, 10), 100 (1, none),
// 250 (1, 11), 400 (2, 21), 500 (1, 12), 510 (1, 12 again, a new version),
// 605 (2, 22) called off at 606 (2, 21), before the access point at 612.
// ATSC: at picture 3 the MGT, VCT and EIT-0; an STT every second from then,
// at T + 0 s, 1 s...: program 1's event 1 ends and event 2 begins at T + 5 s
// (picture 128); program 2's event 20 was to end at T + 10 s (picture 253), where
// event 21 was to begin, but version 1 of its EIT-0 (picture 200) lists event 23
// in place of 20, and no event after it (21's record follows, not counted).
// Judged: no random_access_indicator; the pictures tell, an IDR's in its
// second packet, with the audio packet ahead of it.
// Moved: from picture `movedAt` on, program 1's video (and PCR) is on 0x1A1,
// which PMT version 1 says. Without PCR: PCR_PID 0x1FFF, and each picture's
// PES carries its PTS instead; with PCRs on odd pictures, none is at an
// access point.
enum class PCRs { kEveryPicture, kNone, kOddPictures };
Bytes recording(bool atsc = false, bool judged = false, int movedAt = kFrames, PCRs pcrs = PCRs::kEveryPicture) {
    const bool withoutPCR = pcrs == PCRs::kNone;
    const std::vector<std::tuple<int, uint16_t, int>> announced = {
        {3, 1, 10}, {3, 2, 20}, {100, 1, -1}, {250, 1, 11}, {400, 2, 21}, {500, 1, 12}, {510, 1, 12}, {605, 2, 22}, {606, 2, 21}};
    tsb::Stream188 s;
    uint8_t version = 0;
    for (int frame = 0; frame < kFrames; ++frame) {
        if (frame % 25 == 0) {
            s.pat({{1, 0x100}, {2, 0x200}});
            for (uint16_t p : {1, 2}) {
                uint16_t base = uint16_t(p << 8);
                const bool moved = p == 1 && frame >= movedAt;
                const uint16_t video = moved ? 0x1A1 : uint16_t(base | 1);
                s.section(base, tsb::pmtSection(p, withoutPCR ? 0x1FFF : video, {}, {{0x1B, video, {}}, {0x03, uint16_t(base | 2), {}}}, moved));
            }
        }
        for (const auto& [at, service, event] : announced) {
            if (at == frame && !atsc) s.section(0x12, tsb::presentEventSection(service, version++, event));
        }
        if (atsc && frame == 3) {
            s.section(0x1FFB, mgt());
            s.section(0x1FFB, tvct());
            // Source 5 lists 17 events: the last takes the place of the one that ended first (50).
            std::vector<std::tuple<uint16_t, int, uint32_t>> five = {{1, -10, 15}, {50, -5000, 10}, {2, 5, 5400}};
            for (uint16_t id = 60; id < 74; ++id) five.emplace_back(id, 10000 + id * 100, 50);
            s.section(0x1D00, atscEIT(5, five));
            s.section(0x1D00, atscEIT(6, {{9, -1000, 20000}}));
            s.section(0x1D00, atscEIT(7, {{20, -1000, 1010}, {21, 10, 20000}}));
        }
        if (atsc && frame == 200) s.section(0x1D00, atscEIT(7, {{23, -1000, 1010}, {21, 10, 20000}}, 1, 1));
        if (atsc && frame % 25 == 3) s.section(0x1FFB, stt(uint32_t(frame / 25)));
        for (uint16_t p : {1, 2}) {
            uint16_t video = p == 1 && frame >= movedAt ? 0x1A1 : uint16_t(p << 8 | 1);
            uint16_t audio = uint16_t(p << 8 | 2);
            const bool access = frame % kGOP == 0;
            const bool audioFirst = access && judged;
            const uint64_t pts = uint64_t(frame) * 3600;
            const bool pcr = pcrs == PCRs::kEveryPicture || (pcrs == PCRs::kOddPictures && frame % 2);
            Bytes adaptation = pcr ? tsb::pcrAdaptation(pts, 0) : Bytes{0x00};
            Bytes pes = {0, 0, 1, 0xE0, 0, 0, 0x80, 0, 0};
            if (withoutPCR) {
                pes = {0, 0, 1, 0xE0, 0, 0, 0x80, 0x80, 0x05, uint8_t(0x21 | (pts >> 29 & 0x0E)), uint8_t(pts >> 22),
                       uint8_t(pts >> 14 | 1), uint8_t(pts >> 7), uint8_t(pts << 1 | 1)};
            }
            if (access && !judged) adaptation[0] |= 0x40;
            if (judged) tsb::append(pes, {0, 0, 0, 1, 0x09, 0xF0, 0, 0, 1, uint8_t(access ? 0x09 : 0x41)});
            s.add(tsb::packet({.pid = video, .pusi = true, .cc = s.cc[video]++, .hasAdaptation = true, .adaptation = adaptation,
                               .payload = pes}));
            auto audioPacket = [&] {
                if (frame % 2) s.es(audio);
                else s.add(tsb::packet({.pid = audio, .pusi = true, .cc = s.cc[audio]++, .payload = {0, 0, 1, 0xC0, 0, 0}}));
                s.cc[audio] &= 15;
            };
            if (audioFirst) {
                audioPacket();
                s.add(tsb::packet({.pid = video, .cc = s.cc[video]++, .payload = {0, 0, 1, 0x65, 0x88}}));
            }
            else s.es(video);
            s.es(video);
            s.cc[video] &= 15;
            if (!audioFirst) audioPacket();
        }
    }
    return s.bytes;
}

}  // namespace

TEST(EventCut, EventFilesHoldTheProgramsPacketsOnceEachAndOpenAtAccessPoints) {
  for (const auto& [atsc, judged] : {std::pair{false, false}, {true, false}, {false, true}}) {
    SCOPED_TRACE(std::string(atsc ? "atsc" : "dvb") + (judged ? ", judged" : ""));
    TempDir dir;
    TempDir plain;
    TempDir cut;
    std::string in = dir.write("in.ts", recording(atsc, judged));
    ASSERT_EQ(runTool({RIVULET_TOOL, "-o", plain.path(), in}).status, 0);
    Outcome run = runTool({RIVULET_TOOL, "-e", "-o", cut.path(), in});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    auto files = cut.outputs();
    const std::map<uint16_t, std::vector<std::string>> events =
        atsc ? std::map<uint16_t, std::vector<std::string>>{{1, {"none", "1", "2"}}, {2, {"none", "20", "23"}}}
             : std::map<uint16_t, std::vector<std::string>>{{1, {"none", "10", "11", "12"}}, {2, {"none", "20", "21"}}};
    size_t count = 0;
    for (const auto& [program, ids] : events) {
        const std::string stem = "in_" + std::to_string(program) + "_0_0";
        count += ids.size();
        for (uint16_t pid : {uint16_t(program << 8 | 1), uint16_t(program << 8 | 2)}) {
            std::vector<Bytes> joined;
            for (const std::string& id : ids) {
                for (Bytes& p : packetsOf(files[stem + "_" + id + ".ts"], pid)) joined.push_back(p);
            }
            EXPECT_TRUE(joined == packetsOf(plain.outputs()[stem + ".ts"], pid)) << pid;
        }
        for (size_t i = 1; i < ids.size(); ++i) {
            const Bytes& file = files[stem + "_" + ids[i] + ".ts"];
            ASSERT_GE(file.size(), 3u * 188) << ids[i];
            EXPECT_EQ(packetsOf(file, 0).size() > 0 && file[1] == 0x40 && file[2] == 0x00, true) << "a PAT first";
            EXPECT_EQ(pidAt(file, 188), program << 8) << "then the PMT";
            Bytes video = packetsOf(file, uint16_t(program << 8 | 1)).front();
            // A PES start; judged, its picture an IDR, else marked random access.
            EXPECT_TRUE((video[1] & 0x40) && (judged || (video[5] & 0x40))) << "from an access point: " << ids[i];
        }
    }
    EXPECT_EQ(files.size(), count);
  }
}

// Each report entry describes its file as written, margins and older
// files' tails included: its event (null before the first), its PIDs, its
// packets' first and last input bytes, its duration by its own PCRs.
TEST(EventCut, ReportsDescribeEachFileAsWritten) {
    TempDir dir;
    TempDir cut;
    const Bytes input = recording();
    std::string in = dir.write("in.ts", input);
    ASSERT_EQ(runTool({RIVULET_TOOL, "-e", "--margin", "2,1", "--report", dir.file("r.json"), "-o", cut.path(), in}).status, 0);
    nlohmann::json outputs = nlohmann::json::parse(tsb::readFile(dir.file("r.json")))["inputs"][0]["outputs"];
    ASSERT_EQ(outputs.size(), 7u);
    for (const auto& o : outputs) {
        const Bytes file = tsb::readFile(o["path"]);
        std::set<int> pids;
        std::vector<Bytes> taken;  // the packets of the input, in the file's order
        std::vector<uint64_t> pcrs;
        for (size_t at = 0; at + 188 <= file.size(); at += 188) {
            const Bytes packet(file.begin() + long(at), file.begin() + long(at + 188));
            const int pid = pidAt(packet, 0);
            pids.insert(pid);
            if (pid != 0) taken.push_back(packet);
            if (pid != (o["program_number"] == 1 ? 0x101 : 0x201) || !(packet[3] & 0x20) || !(packet[5] & 0x10)) continue;
            pcrs.push_back(uint64_t(packet[6]) << 25 | packet[7] << 17 | packet[8] << 9 | packet[9] << 1 | packet[10] >> 7);
        }
        const std::string path = o["path"];
        SCOPED_TRACE(path);
        const std::string event = path.substr(path.rfind('_') + 1, path.size() - path.rfind('_') - 4);  // of "_<event>.ts"
        EXPECT_EQ(o["event_id"].is_null() ? "none" : std::to_string(int(o["event_id"])), event);
        EXPECT_EQ(o["pids"], nlohmann::json(std::vector<int>(pids.begin(), pids.end())));
        const uint64_t first = o["first_offset"];
        const uint64_t last = o["last_offset"];
        EXPECT_TRUE(Bytes(input.begin() + long(first), input.begin() + long(first + 188)) == taken.front());
        EXPECT_TRUE(Bytes(input.begin() + long(last - 187), input.begin() + long(last + 1)) == taken.back());
        EXPECT_DOUBLE_EQ(o["duration_s"], double(pcrs.back() - pcrs.front()) / 90000);
    }
}

// A file whose name is taken by a folder fails that file only: the
// program's other event files are those of a run without the folder.
TEST(EventCut, ARefusedFileFailsThatFileOnly) {
    TempDir dir;
    TempDir whole;
    TempDir cut;
    std::string in = dir.write("in.ts", recording());
    ASSERT_EQ(runTool({RIVULET_TOOL, "-e", "-p", "1", "-o", whole.path(), in}).status, 0);
    ASSERT_EQ(::mkdir(cut.file("in_1_0_0_11.ts").c_str(), 0755), 0);
    Outcome run = runTool({RIVULET_TOOL, "-e", "-p", "1", "-o", cut.path(), in});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Error: Failed open " + cut.file("in_1_0_0_11.ts") + ".\n");
    std::map<std::string, Bytes> want = whole.outputs();
    std::map<std::string, Bytes> got = cut.outputs();
    want["in_1_0_0_11.ts"] = {};
    got["in_1_0_0_11.ts"] = {};
    EXPECT_TRUE(got == want);
}

// Margins of 2 s before and 1 s after: event 11 of program 1, cut in at
// picture 252 and out at 504, begins at the access point at or before 2 s
// before the first (picture 192) and ends at the one at or after 1 s after
// the second (picture 540); the audio from and up to its PES starts there.
// Without PCR, by the PTS of the same pictures.
TEST(EventCut, MarginsReachToTheAccessPointsAroundTheCuts) {
  for (int variant : {0, 1, 2}) {
    SCOPED_TRACE(variant);
    const bool judged = variant == 1;
    const PCRs pcrs = variant == 2 ? PCRs::kNone : PCRs::kEveryPicture;  // without, by the pictures' PTS
    TempDir dir;
    TempDir plain;
    TempDir cut;
    const Bytes rec = recording(false, judged, kFrames, pcrs);
    std::string in = dir.write("in.ts", rec);
    ASSERT_EQ(runTool({RIVULET_TOOL, "-p", "1", "-o", plain.path(), in}).status, 0);
    Outcome run = runTool({RIVULET_TOOL, "-e", "--margin", "2,1", "-p", "1", "-o", cut.path(), in});
    ASSERT_EQ(run.status, 0) << run.err;
    const Bytes whole = plain.outputs()["in_1_0_0.ts"];
    const Bytes eleven = cut.outputs()["in_1_0_0_11.ts"];
    // Nothing but the program's packets and its PATs.
    EXPECT_EQ(packetsOf(eleven, 0).size() + packetsOf(eleven, 0x100).size() + packetsOf(eleven, 0x101).size() +
                  packetsOf(eleven, 0x102).size(),
              eleven.size() / 188);
    const std::vector<Bytes> video = packetsOf(whole, 0x101);
    const std::vector<Bytes> audio = packetsOf(whole, 0x102);
    EXPECT_TRUE(packetsOf(eleven, 0x101) == std::vector<Bytes>(video.begin() + 192 * 3, video.begin() + 540 * 3));
    EXPECT_TRUE(packetsOf(eleven, 0x102) == std::vector<Bytes>(audio.begin() + 192, audio.begin() + 540));
    // Event 10 goes on to the access point at or after 1 s past its cut (picture 288), with every packet.
    const std::vector<Bytes> ten = packetsOf(cut.outputs()["in_1_0_0_10.ts"], 0x102);
    ASSERT_LE(ten.size(), 288u);
    EXPECT_TRUE(ten == std::vector<Bytes>(audio.begin() + long(288 - ten.size()), audio.begin() + 288));
    // An input that ends while the older file seeks its end, within picture
    // 280's video PES, still being judged: those packets are the older file's.
    size_t starts = 0;
    size_t end = 0;
    for (; end < rec.size() && starts < 281; end += 188) starts += ((rec[end + 1] & 0x5F) << 8 | rec[end + 2]) == 0x4101;
    TempDir cutShort;
    run = runTool({RIVULET_TOOL, "-e", "--margin", "0,1", "-p", "1", "-o", cutShort.path(),
                   dir.write("short.ts", Bytes(rec.begin(), rec.begin() + long(end)))});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(packetsOf(cutShort.outputs()["short_1_0_0_10.ts"], 0x101).back() == Bytes(rec.begin() + long(end) - 188, rec.begin() + long(end)));
    using Args = std::vector<std::string>;
    EXPECT_EQ(runTool(judged ? Args{RIVULET_TOOL, "--margin", "2", in} : Args{RIVULET_TOOL, "-e", "--margin", "2,x", in}).status, 2);
  }
}

Bytes chars(const std::string& text) { return Bytes(text.begin(), text.end()); }

// `stream` without the packet of `pid` numbered `index` (from 0): a drop its counters show.
Bytes without(const Bytes& stream, uint16_t pid, size_t index) {
    size_t at = 0;
    for (size_t seen = 0; at < stream.size(); at += 188) {
        if (pidAt(stream, at) == pid && seen++ == index) break;
    }
    Bytes rest = stream;
    rest.erase(rest.begin() + long(at), rest.begin() + long(at + 188));
    return rest;
}

// With margins of 2 s and 1 s, program 1 drops a video packet at pictures
// 270 and 480, both in event 11's own stretch (cut in at 252, out at 504),
// and in the margins of event 10 (after it, to 288) and 12 (before it, from
// 444); program 2 drops one at 100, in event 20. --fail-on drops names the
// files whose own stretch has a drop, and exits with 3. The same whether a
// PCR comes with the packet at a cut or a picture before it.
TEST(EventCut, VerdictsTellAProgrammeFromItsMargins) {
  for (const PCRs pcrs : {PCRs::kEveryPicture, PCRs::kOddPictures}) {
    const bool odd = pcrs == PCRs::kOddPictures;
    SCOPED_TRACE(odd ? "PCRs on odd pictures" : "a PCR on every picture");
    TempDir dir;
    TempDir cut;
    Bytes input = without(recording(false, false, kFrames, pcrs), 0x201, 100 * 3 + 2);
    input = without(input, 0x101, 480 * 3 + 2);
    std::string in = dir.write("in.ts", without(input, 0x101, 270 * 3 + 2));
    Outcome run = runTool({RIVULET_TOOL, "-e", "--margin", "2,1", "--fail-on", "drops", "--report", dir.file("r.json"),
                           "--sidecar", "edl,nfo,err", "-o", cut.path(), in});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, "Damaged: " + cut.file("in_2_0_0_20.ts") + " (drops).\nDamaged: " + cut.file("in_1_0_0_11.ts") + " (drops).\n");
    const std::map<std::string, std::pair<int, int>> dropsOf = {  // programme, margins
        {"in_1_0_0_none.ts", {0, 0}}, {"in_1_0_0_10.ts", {0, 1}}, {"in_1_0_0_11.ts", {2, 0}}, {"in_1_0_0_12.ts", {0, 1}},
        {"in_2_0_0_none.ts", {0, 0}}, {"in_2_0_0_20.ts", {1, 0}}, {"in_2_0_0_21.ts", {0, 0}}};
    nlohmann::json outputs = nlohmann::json::parse(tsb::readFile(dir.file("r.json")))["inputs"][0]["outputs"];
    ASSERT_EQ(outputs.size(), dropsOf.size());
    for (const auto& o : outputs) {
        const std::string path = o["path"];
        SCOPED_TRACE(path);
        const auto [programme, margins] = dropsOf.at(path.substr(path.rfind('/') + 1));
        EXPECT_EQ(o["programme"]["kinds"]["video"]["cc_errors"], programme);
        EXPECT_EQ(o["margins"]["kinds"]["video"]["cc_errors"], margins);
        EXPECT_EQ(o["programme"]["kinds"]["audio"]["cc_errors"], 0);
        EXPECT_EQ(o["verdict"], programme ? "damaged" : "clean");
    }
    // Event 11's file from picture 192 to 539, one audio packet each: those of pictures 252 to 503 in
    // its programme, the other 96 in its margins.
    const auto eleven = std::find_if(outputs.begin(), outputs.end(), [](const nlohmann::json& o) {
        return o["path"].get<std::string>().ends_with("in_1_0_0_11.ts");
    });
    ASSERT_NE(eleven, outputs.end());
    EXPECT_EQ((*eleven)["programme"]["kinds"]["audio"]["packets"], 252);
    EXPECT_EQ((*eleven)["margins"]["kinds"]["audio"]["packets"], 96);
    EXPECT_EQ((*eleven)["programme"]["kinds"]["video"]["packets"], 252 * 3 - 2);
    EXPECT_EQ((*eleven)["margins"]["kinds"]["video"]["packets"], 96 * 3);
    // Beside event 11's file: its margins for a player to skip, by the file's clock from its first
    // PCR (picture 192): the cuts at pictures 252 and 504, its last PCR at 539; its event, as far
    // as the EIT tells it (no title, no service name). With PCRs on odd pictures, from 193 and by
    // the PCRs before the cuts (251 and 503) to 539.
    EXPECT_EQ(tsb::readFile(cut.file("in_1_0_0_11.edl")),
              chars(odd ? "0.000 2.320 3\n12.400 13.840 3\n" : "0.000 2.400 3\n12.480 13.880 3\n"));
    EXPECT_EQ(tsb::readFile(cut.file("in_1_0_0_11.nfo")),
              chars("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<episodedetails>\n"
                    "  <aired>2026-12-08</aired>\n  <premiered>2026-12-08</premiered>\n  <runtime>90</runtime>\n"
                    "  <uniqueid type=\"event_id\">11</uniqueid>\n</episodedetails>\n"));
    EXPECT_TRUE(tsb::readFile(cut.file("in_1_0_0_none.nfo")).empty()) << "no event, no episode";
    // Its drop log, without TDT by its clock: the drops at 3.12 s and 11.52 s, then its PIDs.
    const Bytes log = tsb::readFile(cut.file("in_1_0_0_11.err"));
    const std::string logText(log.begin(), log.end());
    EXPECT_EQ(logText.substr(0, logText.find("\n\n") + 2), "0000/00/00 00:00:03 Drop:1 Scramble:0\n0000/00/00 00:00:11 Drop:2 Scramble:0\n\n");
    EXPECT_NE(logText.find("\nPID: 0x0101  Total:     1042  Drop:        2  Scramble:         0  video h264\n"), std::string::npos) << logText;
    // Another damage than the input has, or none asked: status 0, nothing said.
    for (const char* failOn : {"--fail-on=scrambled,tei,gaps", "-e"}) {
        TempDir again;
        run = runTool({RIVULET_TOOL, failOn, "-e", "-o", again.path(), in});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
    }
  }
}

// The video moves from 0x101 to 0x1A1 at picture 225, within event 11's
// margin before its cut (picture 252): its file opens with the PMT in force
// at its first picture (192), and every video packet is on the PID of the
// PMT before it.
TEST(EventCut, AMarginOpensWithThePMTInForceAtItsStart) {
    TempDir dir;
    TempDir cut;
    std::string in = dir.write("in.ts", recording(false, false, 225));
    ASSERT_EQ(runTool({RIVULET_TOOL, "-e", "--margin", "2,1", "-p", "1", "-o", cut.path(), in}).status, 0);
    const Bytes file = cut.outputs()["in_1_0_0_11.ts"];
    std::vector<uint16_t> listed;  // the video PID of each PMT, repeats left out
    size_t videoPackets = 0;
    for (size_t at = 0; at + 188 <= file.size(); at += 188) {
        const uint16_t pid = pidAt(file, at);
        const uint16_t first = pidAt(file, at + 17);  // behind pointer_field and 12 bytes
        if (pid == 0x100 && (listed.empty() || listed.back() != first)) listed.push_back(first);
        if (pid != 0x101 && pid != 0x1A1) continue;
        ++videoPackets;
        ASSERT_FALSE(listed.empty());
        EXPECT_EQ(pid, listed.back()) << at / 188;
    }
    EXPECT_EQ(listed, (std::vector<uint16_t>{0x101, 0x1A1}));
    EXPECT_EQ(videoPackets, (540u - 192u) * 3);
}

// Offsets counted from the recording's layout: 8 packets a picture, with
// PAT and PMTs every 25 and the announcements at the start of a picture.
// Names from the file's own event: its id, end and length.
TEST(EventCut, EventsListsWhatACutAtEventsDoesAndNamesTheFiles) {
    TempDir dir;
    std::string in = dir.write("in.ts", recording());
    std::string atsc = dir.write("atsc.ts", recording(true));
    auto row = [](int program, int id, int announced, const char* time, int cut) {
        return "program " + std::to_string(program) + " event_id " + std::to_string(id) +
               " start 20261208-2000 duration 0130 announced_at " + std::to_string(announced * 188) + " time " + time +
               (cut ? " cut_at " + std::to_string(cut * 188) : "") + " name \"\"\n";
    };
    EXPECT_EQ(runTool({RIVULET_TS_TOOL, "events", in}).out,
              row(1, 10, 27, "0.080", 101) + row(1, 11, 2036, "9.960", 2053) + row(1, 12, 4068, "19.960", 4101) +
                  row(2, 20, 28, "0.080", 105) + row(2, 21, 3255, "15.960", 3324) + row(2, 22, 4922, "24.160", 0) +
                  row(2, 21, 4931, "24.200", 0));
    // ATSC: the STTs at pictures 3 and 128 (packets 33 and 1053) bring the events on;
    // version 1 of source 7's EIT-0 (packet 1641, picture 200) brings its own.
    EXPECT_EQ(runTool({RIVULET_TS_TOOL, "events", atsc}).out,
              "program 1 event_id 1 start 20261208-1959 duration 0000 announced_at 6204 time 0.080 cut_at 19928 name \"Ne\uFFFDws\"\n"
              "program 1 event_id 2 start 20261208-2000 duration 0130 announced_at 197964 time 5.080 cut_at 204168 name \"\"\n"
              "program 2 event_id 20 start 20261208-1943 duration 0016 announced_at 6204 time 0.080 cut_at 20680 name \"Ne\uFFFDws\"\n"
              "program 2 event_id 23 start 20261208-1943 duration 0016 announced_at 308508 time 7.960 cut_at 315652 name \"Ne\uFFFDws\"\n");
    nlohmann::json list = nlohmann::json::parse(runTool({RIVULET_TS_TOOL, "events", "--json", in}).out);
    EXPECT_EQ(list["programs"][1]["events"][1],
              nlohmann::json::parse(R"({"event_id": 21, "name": "", "start": "20261208-2000", "end": "20261208-2130",
                                        "duration": "0130", "announced_at": 611940, "time_s": 15.96, "cut_at": 624912,
                                        "transport_stream_id": 1, "original_network_id": 8442, "duration_s": 5400})"));
    // Without its EIT: no event, said; each program listed with none.
    // Without a PAT, the list warns as a split does.
    Bytes rec = recording();
    Bytes bare;
    for (size_t at = 0; at < rec.size(); at += 188) {
        if (pidAt(rec, at) != 0x12) bare.insert(bare.end(), rec.begin() + long(at), rec.begin() + long(at + 188));
    }
    std::string none = dir.write("none.ts", bare);
    std::string noPAT = dir.write("nopat.ts", Bytes(188 * 20, 0x47));
    EXPECT_EQ(runTool({RIVULET_TS_TOOL, "events", none}).out, "No events in " + none + ".\n");
    EXPECT_EQ(nlohmann::json::parse(runTool({RIVULET_TS_TOOL, "events", "--json", none}).out)["programs"],
              nlohmann::json::parse(R"([{"program_number": 1, "events": []}, {"program_number": 2, "events": []}])"));
    EXPECT_EQ(runTool({RIVULET_TS_TOOL, "programs", noPAT}).err, "Warning: no PAT in " + noPAT + "; no file written.\n");
    TempDir out;
    TempDir atscOut;
    ASSERT_EQ(runTool({RIVULET_TOOL, "-e", "-p", "2", "-n", "{program} {event_id} {start} {end} {duration}", "-o", out.path(), in}).status, 0);
    EXPECT_EQ(out.names(), (std::vector<std::string>{"2 20 20261208-2000 20261208-2130 0130.ts", "2 21 20261208-2000 20261208-2130 0130.ts",
                                               "2.ts"}));
    // ATSC: the events of EIT-0, the title of the first in its three segments.
    ASSERT_EQ(runTool({RIVULET_TOOL, "-e", "-p", "1", "-n", "{program} {event_id} {start} {end} {duration} {event}", "-o",
                       atscOut.path(), atsc}).status, 0);
    EXPECT_EQ(atscOut.names(), (std::vector<std::string>{"1 1 20261208-1959 20261208-2000 0000 Ne\uFFFDws.ts",
                                                         "1 2 20261208-2000 20261208-2130 0130.ts", "1.ts"}));
}
