// rivulet-ts check on a built 2-program stream with drops at counted
// places: its JSON, its exit status, its table and its chart, parsed.

#include <sys/stat.h>

#include <map>

#include <nlohmann/json.hpp>

#include "tests/support/test.h"

namespace {

constexpr uint64_t kSteps = 75;  // of 40 ms: PCRs from 0 to 2.96 s

Bytes sdtSection(const std::vector<std::pair<uint16_t, std::string>>& services) {
    Bytes body = {0x00, 0x01, 0xFF};  // original_network_id, reserved
    for (const auto& [id, name] : services) {
        Bytes d = tsb::descriptor(0x48, tsb::concat({{0x01, 0x00, uint8_t(name.size())}, Bytes(name.begin(), name.end())}));
        tsb::append(body, {uint8_t(id >> 8), uint8_t(id), 0xFC, uint8_t(0xF0 | d.size() >> 8), uint8_t(d.size())});
        tsb::append(body, d);
    }
    return tsb::section(0x42, 1, 0, body);
}

Bytes pcrPacket(uint16_t pid, uint64_t base) {
    return tsb::packet({.pid = pid, .hasAdaptation = true, .hasPayload = false, .adaptation = tsb::pcrAdaptation(base, 0, 176)});
}

// Programs 1 ("News", video 0x111, 4 packets per step) and 2 (`sport`,
// video 0x211, 2 per step), each its own PCR every 40 ms. With `drops`,
// program 1 loses 2 packets at step 30 and 1 at step 60, and with
// `outsideDrop` the SDT loses one at step 50.
Bytes twoPrograms(bool drops, const std::string& sport = "Sport", bool outsideDrop = false) {
    tsb::Stream188 s;
    for (uint64_t step = 0; step < kSteps; ++step) {
        if (outsideDrop && step == 50) ++s.cc[0x11];
        if (step % 25 == 0) {
            s.pat({{1, 0x100}, {2, 0x200}});
            for (uint16_t p : {1, 2}) s.section(uint16_t(p << 8), tsb::pmtSection(p, uint16_t(p << 8 | 0x11), {}, {{0x02, uint16_t(p << 8 | 0x11), {}}}));
            s.section(0x11, sdtSection({{1, "News"}, {2, sport}}));
        }
        if (drops && (step == 30 || step == 60)) s.cc[0x111] = uint8_t((s.cc[0x111] + (step == 30 ? 2 : 1)) & 15);
        for (uint16_t p : {1, 2}) {
            uint16_t video = uint16_t(p << 8 | 0x11);
            s.add(pcrPacket(video, step * 3600));
            for (int i = 0; i < (p == 1 ? 4 : 2); ++i) s.es(video);
        }
    }
    return s.bytes;
}

Outcome check(std::vector<std::string> args) {
    args.insert(args.begin(), {RIVULET_TS_TOOL, "check"});
    return runTool(args);
}

// The names of the elements of an XML document, in order; empty when its
// tags do not nest.
std::vector<std::string> xmlElements(const std::string& xml) {
    std::vector<std::string> names, open;
    for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
        size_t end = xml.find('>', at);
        if (end == std::string::npos) return {};
        bool closing = xml[at + 1] == '/';
        size_t first = at + 1 + closing, last = first;
        while (last < end && xml[last] >= 'a' && xml[last] <= 'z') ++last;
        if (last == first) continue;  // the declaration, a comment
        std::string name = xml.substr(first, last - first);
        if (closing) {
            if (open.empty() || open.back() != name) return {};
            open.pop_back();
            continue;
        }
        names.push_back(name);
        if (xml[end - 1] != '/') open.push_back(name);
    }
    return open.empty() ? names : std::vector<std::string>{};
}

}  // namespace

TEST(CheckTool, JSONHoldsTheFiguresKnownByConstruction) {
    TempDir dir;
    std::string in = dir.write("in.ts", twoPrograms(true));
    Outcome run = check({"--json", in});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["packet_size"], 188);
    EXPECT_EQ(j["packets"], tsb::readFile(in).size() / 188);
    EXPECT_EQ(j["skipped_bytes"], 0);
    EXPECT_DOUBLE_EQ(j["duration_s"].get<double>(), 2.96);
    nlohmann::json video = j["pids"][0];  // errors first
    EXPECT_EQ(video["pid"], 0x111);
    EXPECT_EQ(video["role"], "video");
    EXPECT_EQ(video["packets"], kSteps * 5);
    EXPECT_EQ(video["cc_errors"], 2);
    EXPECT_EQ(video["lost_packets"], 3);
    EXPECT_EQ(video["pcrs"], kSteps);
    EXPECT_EQ(video["bitrate_bps"], 190541);  // 375 * 188 * 8 / 2.96 s
    EXPECT_DOUBLE_EQ(video["duration_s"].get<double>(), 2.96);
    EXPECT_EQ(j["pids"][1]["pid"], 0);
    EXPECT_TRUE(j["pids"][1]["duration_s"].is_null());  // the PAT carries no PCR
    const nlohmann::json totals = {{"cc_errors", 2}, {"lost_packets", 3}, {"duplicates", 0}, {"tei", 0},
                                   {"scrambled", 0}, {"pcr_discontinuities", 0}, {"complete", true}};
    for (const auto& [key, value] : totals.items()) EXPECT_EQ(j[key], value) << key;
    ASSERT_EQ(j["programs"].size(), 2u);
    nlohmann::json one = j["programs"][0], two = j["programs"][1];
    EXPECT_EQ(one["service_name"], "News");
    EXPECT_EQ(one["pids"], nlohmann::json::parse("[256, 273]"));
    EXPECT_EQ(one["cc_errors"], 2);
    EXPECT_EQ(one["lost_packets"], 3);
    EXPECT_EQ(two["service_name"], "Sport");
    EXPECT_EQ(two["cc_errors"], 0);
    EXPECT_DOUBLE_EQ(two["duration_s"].get<double>(), 2.96);
}

// No PCR: no duration and no bitrate, said so rather than shown as zero.
// The program's ECM PID is its own; the CAT's EMM PID is no program's.
TEST(CheckTool, AnInputWithoutPCRHasNoDurationNorBitrate) {
    tsb::Stream188 s;
    s.pat({{1, 0x100}});
    s.section(0x100, tsb::pmtSection(1, 0x1FFF, tsb::caDescriptor(0x0B00, 0x1F0), {{0x02, 0x111, {}}}));
    s.section(0x001, tsb::catSection(tsb::caDescriptor(0x0B00, 0x1E0)));
    s.es(0x111), s.es(0x1F0), s.es(0x1E0);
    TempDir dir;
    std::string in = dir.write("in.ts", s.bytes);
    nlohmann::json j = nlohmann::json::parse(check({"--json", in}).out);
    EXPECT_TRUE(j["duration_s"].is_null());
    EXPECT_TRUE(j["pids"][0]["bitrate_bps"].is_null());
    EXPECT_TRUE(j["programs"][0]["duration_s"].is_null());
    std::map<int, nlohmann::json> programOf;
    for (const auto& pid : j["pids"]) programOf[pid["pid"]] = pid.value("program_number", nlohmann::json());
    EXPECT_EQ(programOf, (std::map<int, nlohmann::json>{{0, {}}, {1, {}}, {0x100, 1}, {0x111, 1}, {0x1E0, {}}, {0x1F0, 1}}));
    Outcome text = check({in});
    EXPECT_EQ(text.out.substr(0, text.out.find('\n')), in + ": 188-byte packets, 6 packets, 0 bytes skipped, no PCR");
    EXPECT_NE(text.out.find("\n0x0111 video mpeg2 of program 1                    1       0       0     0      0         0      0        0         -\n"),
              std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\n1                                    no PCR       0       0      0         0  0x0100,0x01F0,0x0111\n"), std::string::npos) << text.out;
}

// Stopped by a signal: the figures of what was read, as valid JSON that says so.
TEST(CheckTool, AStopSignalGivesTheFiguresOfWhatWasRead) {
    TempDir dir;
    Bytes stream = twoPrograms(true);
    dir.write("in.ts", stream);
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    Outcome run = runTool({"/bin/sh", "-c", "(cat in.ts; sleep 5) > fifo & \"$0\" check --json fifo & p=$!; sleep 1; kill -INT $p; wait $p",
                           RIVULET_TS_TOOL}, "cd '" + dir.path() + "';");
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.err, "Stopped: the figures are those of the first " + std::to_string(stream.size()) + " bytes of fifo.\n");
    nlohmann::json j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["complete"], false);
    EXPECT_EQ(j["packets"], stream.size() / 188);
}

TEST(CheckTool, FailOnErrorsExitsWithThreeWhenDropped) {
    // Two drops on program 1's video, or one on the SDT's PID.
    for (auto [drops, outside] : {std::pair{false, false}, {true, false}, {false, true}}) {
        TempDir dir;
        std::string in = dir.write("in.ts", twoPrograms(drops, "Sport", outside));
        EXPECT_EQ(check({"--fail-on-errors", in}).status, drops || outside ? 3 : 0);
        Outcome plain = check({in});
        EXPECT_EQ(plain.status, 0);
        std::string verdict = plain.out.substr(plain.out.find('\n') + 1, plain.out.find(" continuity") - plain.out.find('\n') - 1);
        EXPECT_EQ(verdict, drops ? "ERRORS: 2" : outside ? "ERRORS: 1" : "no errors: 0");
        // The table's first PID is the one with errors.
        EXPECT_EQ(plain.out.find("\n0x0111 ") < plain.out.find("\n0x0000 "), drops) << plain.out;
    }
}

// The chart of a stream with a long service name that holds characters XML
// does not allow, and an error on a PID of no program.
TEST(CheckTool, ChartIsWellFormedSVGWithOneLinePerProgramAndEachErrorMarked) {
    TempDir dir;
    const std::string sport = "\x15Sport\xEF\xBF\xBE and a very long name\xEF\xBF\xBF of its own";
    std::string in = dir.write("in.ts", twoPrograms(true, sport, true));
    ASSERT_EQ(check({"--svg", dir.file("chart.svg"), in}).status, 0);
    Bytes bytes = tsb::readFile(dir.file("chart.svg"));
    std::string svg(bytes.begin(), bytes.end());
    std::vector<std::string> elements = xmlElements(svg);
    ASSERT_FALSE(elements.empty()) << svg;
    EXPECT_EQ(elements.front(), "svg");
    EXPECT_EQ(std::count(elements.begin(), elements.end(), "polyline"), 2);
    size_t marks = 0;
    for (size_t at = 0; (at = svg.find("class=\"cc-error\"", at)) != std::string::npos; ++at) ++marks;
    EXPECT_EQ(marks, 3u);
    for (const std::string& text : std::vector<std::string>{">time (s)<", ">bitrate (Mbit/s)<", ">1 News<", ">2 Sport and a very long n\u2026<",
                                   ">Bitrate per program of " + in + "<", "<title>1 continuity error, 2 packets lost</title>",
                                   "<title>1 continuity error, 1 packet lost</title>", "fill=\"#555555\">1</text></g>",
                                   ">on a PID of no program<", "stroke-dasharray=\"8 4\" points=\"70.0,"}) {
        EXPECT_NE(svg.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(nlohmann::json::parse(check({"--json", in}).out)["programs"][1]["service_name"],
              "Sport and a very long name of its own");
    // Read against the y axis, program 1's first point, at 0 s: its packets up
    // to the PCR of 1 s, 25 steps of 5, two PMTs and that PCR's packet: 128
    // packets of 1504 bits in 1 s.
    std::vector<std::pair<double, double>> ticks;  // (y, Mbit/s) of the y axis' labels
    const std::string label = "\" text-anchor=\"end\">";
    for (size_t at = 0; (at = svg.find(label, at)) != std::string::npos; at += label.size()) {
        size_t y = svg.rfind("y=\"", at) + 3;
        ticks.push_back({std::stod(svg.substr(y)) - 4, std::stod(svg.substr(at + label.size()))});
    }
    ASSERT_GE(ticks.size(), 2u);
    size_t points = svg.find("points=\"70.0,");
    ASSERT_NE(points, std::string::npos);
    double firstY = std::stod(svg.substr(svg.find(',', points) + 1));
    double perPixel = (ticks[1].second - ticks[0].second) / (ticks[1].first - ticks[0].first);
    EXPECT_NEAR(ticks[0].second + (firstY - ticks[0].first) * perPixel, 0.192512, 0.001);
    // The legend: a row per program, then the marks, from level with the plot's top down.
    auto yOf = [&](const std::string& text) { return std::stod(svg.substr(svg.rfind("y=\"", svg.find(text)) + 3)); };
    double top = yOf("fill=\"none\" stroke=\"#444\"");
    EXPECT_GT(yOf(">1 News<"), top);
    EXPECT_LT(yOf(">1 News<"), top + 20);
    EXPECT_EQ(yOf(">2 Sport") - yOf(">1 News<"), 20);
    EXPECT_EQ(yOf(">cc error (packets lost)<") - yOf(">2 Sport"), 20);
    EXPECT_EQ(yOf(">on a PID of no program<") - yOf(">cc error (packets lost)<"), 20);
    // A label that just fits is not cut.
    in = dir.write("fits.ts", twoPrograms(false, "Sport of exactly 24 char"));
    ASSERT_EQ(check({"--svg", dir.file("fits.svg"), in}).status, 0);
    bytes = tsb::readFile(dir.file("fits.svg"));
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find(">2 Sport of exactly 24 char<"), std::string::npos);
}
