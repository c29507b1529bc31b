// rivulet-ts check on a built 2-program stream with drops at counted
// places: its JSON, its exit status, its table and its chart, parsed.

#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>

#include <nlohmann/json.hpp>

#include "app/common/service_names.h"
#include "app/ts_tool/check_chart.h"
#include "app/ts_tool/check_view.h"
#include "tests/support/test.h"

namespace {

constexpr uint64_t kSteps = 75;  // of 40 ms: PCRs from 0 to 2.96 s

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

}  // namespace

// Stopped by a signal, the figures of what was read, as valid JSON that says so.
TEST(CheckTool, JSONHoldsTheFiguresKnownByConstruction) {
    TempDir dir;
    const Bytes stream = twoPrograms(true);
    std::string in = dir.write("in.ts", stream);
    Outcome run = check({"--json", in});
    ASSERT_EQ(run.status, 0) << run.err;
    nlohmann::json j = nlohmann::json::parse(run.out);
    // Program 1's video first, for its errors: 75 steps of a PCR and 4 packets,
    // 3 lost at two places; 375 * 188 * 8 bits in 2.96 s.
    EXPECT_EQ(j["pids"][0], nlohmann::json::parse(R"({"pid": 273, "role": "video", "program_number": 1, "codec": "mpeg2",
        "packets": 375, "cc_errors": 2, "lost_packets": 3, "duplicates": 0, "tei": 0, "scrambled": 0, "pcrs": 75,
        "pcr_discontinuities": 0, "duration_s": 2.96, "bitrate": 190541, "bitrate_bps": 190541})"));
    EXPECT_EQ(j["pids"][1]["pid"], 0);
    EXPECT_TRUE(j["pids"][1]["duration_s"].is_null());  // the PAT carries no PCR
    // Program 1's verdict: its video by kind, the PAT's and its PMT's packets as PSI.
    const nlohmann::json& verdict = j["programs"][0];
    EXPECT_EQ(verdict["kinds"]["video"], nlohmann::json::parse(R"({"packets": 375, "cc_errors": 2, "lost_packets": 3, "tei": 0, "scrambled": 0})"));
    EXPECT_EQ(verdict["kinds"]["psi"]["packets"], 6);
    EXPECT_EQ(verdict["kinds"]["pcr"]["packets"], 0);
    EXPECT_EQ(verdict["gaps"], nlohmann::json::array());
    EXPECT_EQ(verdict["verdict"], "damaged");
    EXPECT_EQ(verdict["reasons"], nlohmann::json::parse(R"(["drops"])"));
    EXPECT_EQ(j["programs"][1]["verdict"], "clean");
    for (auto& program : j["programs"]) {
        for (const char* key : {"kinds", "gaps", "gaps_count", "verdict", "reasons"}) program.erase(key);
    }
    // Each program: its 3 PMT packets and its video's (program 2: 75 steps of 3).
    EXPECT_EQ(j["programs"], nlohmann::json::parse(R"([
        {"program_number": 1, "service_name": "News", "pmt_pid": 256, "pcr_pid": 273, "pids": [256, 273], "duration_s": 2.96,
         "packets": 378, "cc_errors": 2, "lost_packets": 3, "tei": 0, "scrambled": 0},
        {"program_number": 2, "service_name": "Sport", "pmt_pid": 512, "pcr_pid": 529, "pids": [512, 529], "duration_s": 2.96,
         "packets": 228, "cc_errors": 0, "lost_packets": 0, "tei": 0, "scrambled": 0}])"));
    // 75 steps of 8 packets, and 3 rounds of the PAT, 2 PMTs and the SDT.
    j.erase("pids");
    j.erase("programs");
    EXPECT_EQ(j, nlohmann::json::parse(R"({"packet_size": 188, "packets": 612, "skipped_bytes": 0, "duration_s": 2.96, "complete": true,
        "cc_errors": 2, "lost_packets": 3, "duplicates": 0, "tei": 0, "scrambled": 0, "pcr_discontinuities": 0})"));
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    run = runTool({"/bin/sh", "-c", "(cat in.ts; sleep 5) > fifo & \"$0\" check --json fifo & p=$!; sleep 1; kill -INT $p; wait $p",
                   RIVULET_TS_TOOL}, "cd '" + dir.path() + "';");
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(run.err, "Stopped: the figures are those of the first " + std::to_string(stream.size()) + " bytes of fifo.\n");
    j = nlohmann::json::parse(run.out);
    EXPECT_EQ(j["complete"], false);
    EXPECT_EQ(j["packets"], stream.size() / 188);
}

// No PCR: no duration and no bitrate, said so rather than shown as zero.
// The program's ECM PID is its own; the CAT's EMM PID is no program's.
TEST(CheckTool, AnInputWithoutPCRHasNoDurationNorBitrate) {
    const Bytes pmt = tsb::pmtSection(1, 0x1FFF, tsb::caDescriptor(0x0B00, 0x1F0), {{0x02, 0x111, {}}});
    const Bytes stream = streamOf({{0, tsb::patSection(1, 0, {{1, 0x100}})}, {0x100, pmt},
                                   {0x001, tsb::catSection(tsb::caDescriptor(0x0B00, 0x1E0))}, {0x111}, {0x1F0}, {0x1E0}}).bytes;
    TempDir dir;
    std::string in = dir.write("in.ts", stream);
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
    for (const char* role : {"\n0x0100 PMT of program 1 ", "\n0x01F0 ECM of program 1 ", "\n0x01E0 EMM  "}) {
        EXPECT_NE(text.out.find(role), std::string::npos) << role << text.out;
    }
    EXPECT_TRUE(text.out.ends_with("\n1                                    no PCR       0       0      0         0  0x0100,0x01F0,0x0111\n")) << text.out;
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
// does not allow, drops on program 1's video and on a PID of no program,
// worked out from the layout: the plot spans x 70 to 710 for 0 to 3 s and
// y 390 to 40 for 0 to 1 Mbit/s. Program 1's line opens at its first PCR;
// its first second carries 126 packets of 1504 bits (the 4 after that PCR,
// 24 steps of 5, the PMT and PCR at 1 s): 0.189504 Mbit/s, y 323.7; program
// 2's 76. Each line ends in its program's number. A mark sits on its line at
// its packet's time, 4 px up and left (1.2 s, 2.4 s; the SDT's at 1.988 s,
// between the PCRs around it), its errors and lost packets beside it.
TEST(CheckTool, ChartIsEachProgramsBitrateWithEachErrorMarked) {
    TempDir dir;
    const std::string sport = "\x15Sport\xEF\xBF\xBE and a v\xC3\xA9ry long name\xEF\xBF\xBF of its own";
    std::string in = dir.write("in.ts", twoPrograms(true, sport, true));
    ASSERT_EQ(check({"--svg", dir.file("chart.svg"), in}).status, 0);
    Bytes bytes = tsb::readFile(dir.file("chart.svg"));
    std::string want = R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="990" height="440" viewBox="0 0 990 440" font-family="sans-serif" font-size="12">
<rect width="100%" height="100%" fill="white"/>
<text x="70" y="24" font-size="15">Bitrate per program of in.ts</text>
<rect x="70" y="40" width="640" height="350" fill="none" stroke="#444"/>
<line x1="70" y1="40" x2="70" y2="390" stroke="#ddd"/><text x="70" y="406" text-anchor="middle">0</text>
<line x1="176.667" y1="40" x2="176.667" y2="390" stroke="#ddd"/><text x="176.667" y="406" text-anchor="middle">0.5</text>
<line x1="283.333" y1="40" x2="283.333" y2="390" stroke="#ddd"/><text x="283.333" y="406" text-anchor="middle">1</text>
<line x1="390" y1="40" x2="390" y2="390" stroke="#ddd"/><text x="390" y="406" text-anchor="middle">1.5</text>
<line x1="496.667" y1="40" x2="496.667" y2="390" stroke="#ddd"/><text x="496.667" y="406" text-anchor="middle">2</text>
<line x1="603.333" y1="40" x2="603.333" y2="390" stroke="#ddd"/><text x="603.333" y="406" text-anchor="middle">2.5</text>
<line x1="710" y1="40" x2="710" y2="390" stroke="#ddd"/><text x="710" y="406" text-anchor="middle">3</text>
<line x1="70" y1="390" x2="710" y2="390" stroke="#ddd"/><text x="64" y="394" text-anchor="end">0</text>
<line x1="70" y1="355" x2="710" y2="355" stroke="#ddd"/><text x="64" y="359" text-anchor="end">0.1</text>
<line x1="70" y1="320" x2="710" y2="320" stroke="#ddd"/><text x="64" y="324" text-anchor="end">0.2</text>
<line x1="70" y1="285" x2="710" y2="285" stroke="#ddd"/><text x="64" y="289" text-anchor="end">0.3</text>
<line x1="70" y1="250" x2="710" y2="250" stroke="#ddd"/><text x="64" y="254" text-anchor="end">0.4</text>
<line x1="70" y1="215" x2="710" y2="215" stroke="#ddd"/><text x="64" y="219" text-anchor="end">0.5</text>
<line x1="70" y1="180" x2="710" y2="180" stroke="#ddd"/><text x="64" y="184" text-anchor="end">0.6</text>
<line x1="70" y1="145" x2="710" y2="145" stroke="#ddd"/><text x="64" y="149" text-anchor="end">0.7</text>
<line x1="70" y1="110" x2="710" y2="110" stroke="#ddd"/><text x="64" y="114" text-anchor="end">0.8</text>
<line x1="70" y1="75" x2="710" y2="75" stroke="#ddd"/><text x="64" y="79" text-anchor="end">0.9</text>
<line x1="70" y1="40" x2="710" y2="40" stroke="#ddd"/><text x="64" y="44" text-anchor="end">1</text>
<text x="390" y="428" text-anchor="middle">time (s)</text>
<text transform="translate(18,215) rotate(-90)" text-anchor="middle">bitrate (Mbit/s)</text>
<path fill="none" stroke-width="1.5" stroke="#1f77b4" d="M70.0 323.7H283.3L283.3 323.7H496.7L496.7 322.0H701.5"/>
<text x="704.5" y="326.0" font-size="10" fill="#1f77b4">1</text>
<path fill="none" stroke-width="1.5" stroke="#ff7f0e" stroke-dasharray="8 4" d="M70.0 350.0H283.3L283.3 350.0H496.7L496.7 349.4H701.5"/>
<text x="704.5" y="353.4" font-size="10" fill="#ff7f0e">2</text>
<g class="cc-error" data-program="1" data-errors="1" data-lost="2"><title>1 continuity error, 2 packets lost</title><path d="M322.0 319.7l8 8m0 -8l-8 8" stroke-width="2" stroke="#d00000"/><text x="332.0" y="317.7" font-size="10" fill="#d00000">1 (2)</text></g>
<g class="cc-error" data-program="1" data-errors="1" data-lost="1"><title>1 continuity error, 1 packet lost</title><path d="M578.0 318.0l8 8m0 -8l-8 8" stroke-width="2" stroke="#d00000"/><text x="588.0" y="316.0" font-size="10" fill="#d00000">1 (1)</text></g>
<g class="cc-error" data-program="none" data-errors="1" data-lost="1"><title>1 continuity error, 1 packet lost</title><path d="M490.1 386.0l8 8m0 -8l-8 8" stroke-width="2" stroke="#555555"/><text x="500.1" y="384.0" font-size="10" fill="#555555">1 (1)</text></g>
<line x1="760" y1="50" x2="780" y2="50" stroke-width="3" stroke="#1f77b4"/><text x="788" y="54">1 News</text>
<line x1="760" y1="70" x2="780" y2="70" stroke-width="3" stroke-dasharray="8 4" stroke="#ff7f0e"/><text x="788" y="74">2 Sport and a véry long n…</text>
<path d="M766 86l8 8m0 -8l-8 8" stroke-width="2" stroke="#d00000"/><text x="788" y="94">cc errors (packets lost)</text>
<path d="M766 106l8 8m0 -8l-8 8" stroke-width="2" stroke="#555555"/><text x="788" y="114">on a PID of no program</text>
</svg>
)svg";
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), want);
    EXPECT_EQ(nlohmann::json::parse(check({"--json", in}).out)["programs"][1]["service_name"],
              "Sport and a v\u00e9ry long name of its own");
    // A label that just fits is not cut; a clean stream says so.
    in = dir.write("fits.ts", twoPrograms(false, "Sport of exactly 24 char"));
    ASSERT_EQ(check({"--svg", dir.file("fits.svg"), in}).status, 0);
    bytes = tsb::readFile(dir.file("fits.svg"));
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find(">2 Sport of exactly 24 char<"), std::string::npos);
    EXPECT_NE(std::string(bytes.begin(), bytes.end()).find(">no errors<"), std::string::npos);
}

// A 1 s input of 2^20 bytes: an error at offset j * 8192 of a program
// without a line is marked at the plot's foot, x 70 + 5j, y 390. A mark
// takes in the next error short of its reach (16 px and its text, 6.5 px a
// character), and its label goes right of its cross, up, clear of the crosses
// and labels drawn, else one label further right, else up by 6 anyway.
// Program 1, no PCR, has half the input on each stretch: 4.194304 Mbit/s,
// y 96.4 on an axis to 5.
TEST(CheckTool, ChartLabelsKeepApart) {
    auto result = std::make_unique<TS_CheckResult>();
    result->u64Duration = 27000000;
    result->u64Bytes = 1 << 20;
    result->u16ProgramCount = 20;
    for (uint16_t i = 0; i < 20; ++i) {
        result->ltProgram[i] = {.u16ProgramNumber = uint16_t(i + 1), .u16PCRPID = TS_PID_NULL, .u16PIDCount = 1, .lu16PID = {i}};
    }
    rivulet::tool::ChartPoints points;
    points.bytes = {{{TS_SAMPLE_BYTES, 0, 0, 8192, 4096, 0, 0}, {TS_SAMPLE_BYTES, 0, 0, 8380, 94, 0, 0},
                     {TS_SAMPLE_BYTES, 0, 0, 1 << 20, 520098, 0, 0}}};
    // Program 2 at j 0, 11 (55 px: its own) and 21 (taken in); program 3's
    // label ends where program 4's cross begins; programs 5 to 17 at j 60;
    // program 19's label, kept off its foot by program 20's cross, begins
    // where program 18's ends.
    std::vector<std::array<uint32_t, 3>> errors = {{1, 0, 10}, {1, 11, 10}, {1, 21, 0}, {2, 30, 10}, {3, 40, 0},
                                                   {17, 80, 100000}, {18, 93, 0}, {19, 97, 0}};
    for (uint32_t pid = 4; pid < 17; ++pid) errors.push_back({pid, 60, 0});
    for (auto [pid, j, lost] : errors) points.errors.push_back({TS_SAMPLE_CC_ERROR, 0, 0, j * 8192u, 0, lost, uint16_t(pid)});
    const std::string svg = rivulet::tool::chartSVG(*result, points, "in.ts");
    EXPECT_NE(svg.find(" d=\"M70.0 96.4H75.0L75.0 96.4H75.1L75.1 96.4H710.0\""), std::string::npos) << svg;
    const std::regex label("<text x=\"([\\d.]+)\" y=\"([\\d.]+)\" font-size=\"10\" fill=\"#d00000\">([^<]*)<");
    std::string labels;
    for (std::sregex_iterator m(svg.begin(), svg.end(), label), end; m != end; ++m) labels += m->format("$1 $2 $3|");
    EXPECT_EQ(labels, "76.0 384.0 1 (10)|131.0 384.0 2 (10)|226.0 384.0 1 (10)|276.0 384.0 1 (0)|"
                      "376.0 384.0 1 (0)|376.0 372.0 1 (0)|376.0 360.0 1 (0)|376.0 348.0 1 (0)|376.0 336.0 1 (0)|376.0 324.0 1 (0)|"
                      "412.5 384.0 1 (0)|412.5 372.0 1 (0)|412.5 360.0 1 (0)|412.5 348.0 1 (0)|412.5 336.0 1 (0)|412.5 324.0 1 (0)|"
                      "376.0 384.0 1 (0)|476.0 372.0 1 (100000)|541.0 372.0 1 (0)|561.0 384.0 1 (0)|");
}

// On every capture, one run's chart and JSON agree: each program's marks sum
// to its continuity errors and lost packets, those of no program to the
// PIDs' that no program names.
TEST(CheckTool, ChartCountsTheErrorsOfTheJSON) {
    std::string samples = samplesDir();
    if (samples.empty()) GTEST_SKIP() << "no sample captures here";
    using Counts = std::map<std::string, std::pair<uint64_t, uint64_t>>;
    const std::regex mark("data-program=\"(\\w+)\" data-errors=\"(\\d+)\" data-lost=\"(\\d+)\"");
    for (const auto& entry : std::filesystem::directory_iterator(samples)) {
        if (entry.path().extension() != ".ts") continue;
        SCOPED_TRACE(entry.path().filename().string());
        TempDir dir;
        nlohmann::json j = nlohmann::json::parse(check({"--json", "--svg", dir.file("chart.svg"), entry.path()}).out);
        Counts json;
        std::set<int> named;
        for (const auto& p : j["programs"]) {
            named.insert(p["pids"].begin(), p["pids"].end());
            if (p["cc_errors"] > 0) json[p["program_number"].dump()] = {p["cc_errors"], p["lost_packets"]};
        }
        for (const auto& p : j["pids"]) {
            if (named.count(p["pid"]) || p["cc_errors"] == 0) continue;
            json["none"].first += p["cc_errors"].get<uint64_t>();
            json["none"].second += p["lost_packets"].get<uint64_t>();
        }
        Bytes bytes = tsb::readFile(dir.file("chart.svg"));
        std::string svg(bytes.begin(), bytes.end());
        Counts chart;
        for (std::sregex_iterator m(svg.begin(), svg.end(), mark), end; m != end; ++m) {
            chart[(*m)[1]].first += std::stoull((*m)[2]);
            chart[(*m)[1]].second += std::stoull((*m)[3]);
        }
        EXPECT_EQ(chart, json);
    }
}

// The JSON tells every role by a name of its own.
TEST(CheckTool, EveryRoleHasANameOfItsOwn) {
    const uint8_t roles[] = {TS_ROLE_UNKNOWN, TS_ROLE_PAT, TS_ROLE_CAT, TS_ROLE_PMT, TS_ROLE_VIDEO, TS_ROLE_AUDIO, TS_ROLE_SUBTITLES,
                             TS_ROLE_DATA,    TS_ROLE_PCR, TS_ROLE_ECM, TS_ROLE_EMM, TS_ROLE_SI,    TS_ROLE_NULL};
    std::set<std::string> names;
    for (uint8_t role : roles) names.insert(rivulet::tool::roleName(role));
    EXPECT_EQ(names.size(), std::size(roles));
}

// A name is typed without regard to case or blanks: Unicode's spaces, tabs
// and line breaks; a virtual channel's number names it too. A type by its word.
TEST(ServiceChoice, NamesAreMatchedWithoutCaseOrBlanks) {
    rivulet::tool::ServiceTexts service;
    service.name = "Ça\tVa\n\v\f\r \u00A0\u1680\u2000\u200A\u202F\u205F\u3000Ω";
    service.channel = "7.1";
    const std::pair<const char*, bool> cases[] = {
        {"çavaω", true}, {"ÇA VA Ω", true}, {"7.1", true}, {"ca va", false}, {"\u2009", false},
        {"çava\u200Bω", false},  // a zero-width space is no blank
    };
    for (const auto& [wanted, names] : cases) EXPECT_EQ(rivulet::tool::namesService(service, wanted), names) << wanted;
    // The types a service is chosen by; none for a type no table knows.
    const char* const types[] = {"", "tv", "radio", "data", ""};
    for (uint8_t type = 0; type < 5; ++type) EXPECT_STREQ(rivulet::tool::serviceTypeName(type), types[type]) << int(type);
}
