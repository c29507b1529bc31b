// The command lines of rivulet and rivulet-ts: how options name programs,
// CRCs and selections, the program list as text and JSON, usage errors.

#include <nlohmann/json.hpp>

#include <regex>
#include <sstream>
#include <tuple>

#include "tests/support/test.h"

namespace {

Outcome ts(std::vector<std::string> args) {
    args.insert(args.begin(), RIVULET_TS_TOOL);
    return runTool(args);
}

}  // namespace

// The last PAT whose CRC verifies, without its network entry.
TEST(CommandLine, ProgramsAsTextAndJSON) {
    Bytes bad = tsb::patSection(1, 1, {{9, 0x900}});
    bad.back() ^= 1;
    tsb::Stream188 s;
    s.pat({{0, 0x10}, {1, 0x100}});
    s.pat({{0x0102, 0x1FF0}, {0, 0x10}, {5, 0x40}});
    s.section(0, bad);
    TempDir dir;
    std::string in = dir.write("in.ts", s.bytes);
    EXPECT_EQ(ts({"programs", in}).out, "program 258 pmt_pid 0x1FF0\nprogram 5 pmt_pid 0x0040\n");
    EXPECT_EQ(
        nlohmann::json::parse(ts({"programs", "--json", in}).out),
        nlohmann::json::parse(R"({"programs":[{"program_number":258,"pmt_pid":8176},{"program_number":5,"pmt_pid":64}]})"));
    // A PAT that never completes leaves the caller's list as it was.
    uint8_t cc = 0;
    TS_ProgramList list{.u16Count = 7};
    dir.write("in.ts", tsb::packetize(0, tsb::patSection(1, 0, std::vector<tsb::Program>(60, {1, 0x100})), cc)[0]);
    ASSERT_EQ(TS_GetProgramList(&list, in.c_str()), 0);
    EXPECT_EQ(list.u16Count, 7);
    EXPECT_EQ(nlohmann::json::parse(ts({"programs", "--json", in}).out), nlohmann::json::parse(R"({"programs":[]})"));
}

TEST(CommandLine, OptionsNameWhatTheDriversTake) {
    tsb::Stream188 s;
    s.pat({{0, 0x10}, {1, 0x100}, {2, 0x200}});
    s.section(0x200, tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}}));
    s.es(0x201);
    TempDir dir;
    std::string in = dir.write("in.ts", s.bytes);
    std::string out = dir.file("out.ts");
    for (const char* number : {"0x200", "512", "0512", "0X0200"}) {  // no octal
        ASSERT_EQ(ts({"extract", "--pmt-pid", number, in, out}).status, 0) << number;
        EXPECT_TRUE(tsb::readFile(out) == s.packets({1, 2})) << number;
    }
    // From standard input, file descriptor 0.
    ASSERT_EQ(runTool({RIVULET_TS_TOOL, "extract", "--program", "0x2", "-", dir.file("p.ts")}, "exec <'" + in + "';").status, 0);
    EXPECT_TRUE(tsb::readFile(dir.file("p.ts")) == s.packets({1, 2}));
    tsb::Stream188 many;  // program 200 is the PAT's 200th entry
    std::vector<tsb::Program> entries;
    for (uint16_t p = 1; p <= 200; ++p) entries.push_back({p, uint16_t(0x100 + p)});
    many.pat(entries);
    many.section(0x1C8, tsb::pmtSection(200, 0x1C9, {}, {{0x1B, 0x1C9, {}}}));
    many.es(0x1C9);
    std::string manyIn = dir.write("many.ts", many.bytes);
    ASSERT_EQ(ts({"extract", "--program", "200", manyIn, out}).status, 0);
    EXPECT_TRUE(tsb::readFile(out) == many.packets({many.count() - 2, many.count() - 1}));
    EXPECT_EQ(ts({"programs", manyIn}).out.substr(ts({"programs", manyIn}).out.rfind("program 200")), "program 200 pmt_pid 0x01C8 type tv streams \"h264 video\"\n");
    // A PAT in 70 sections, four programs in each: whole once all 70 are
    // in, and the 27 programs past the 253 followed are skipped, once said.
    tsb::Stream188 sections;
    for (uint16_t n = 0; n < 70; ++n) {
        std::vector<tsb::Program> four;
        for (uint16_t p = uint16_t(4 * n + 1); p <= 4 * n + 4; ++p) four.push_back({p, uint16_t(0x100 + p)});
        sections.section(0, tsb::numbered(tsb::patSection(1, 0, four), uint8_t(n), 69));
    }
    Outcome listed = ts({"programs", dir.write("sections.ts", tsb::concat({sections.bytes, sections.bytes}))});
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 253);
    EXPECT_EQ(listed.out.substr(listed.out.rfind("program ")), "program 253 pmt_pid 0x01FD\n");
    EXPECT_EQ(listed.err, "Warning: the PAT lists 27 programs more than the 253 that can be followed; they are skipped.\n");
    EXPECT_EQ(ts({"extract", "--program", "9", in, out}).err, "rivulet-ts: " + in + ": no program 9 in the PAT.\n");
    for (const char* command : {"pmt-survey", "pmt-split"}) {
        EXPECT_EQ(ts({command, in}).err,
                  "rivulet-ts: " + in + ": not a single-program stream: a PAT lists more than one program.\n");
    }
    const std::pair<std::vector<std::string>, uint32_t> dumps[] = {
        {{}, TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT}, {{"--all"}, 0x1FF & ~(TS_PRINT_PACKET | TS_PRINT_ES)},
        {{"--pat", "--cat", "--pmt", "--private", "--emm", "--pids", "--pcr", "--packets", "--es"}, 0x1FF}};
    for (auto [options, flags] : dumps) {
        options.insert(options.begin(), "dump");
        options.push_back(in);
        EXPECT_EQ(ts(options).out, captured([&] { return TS_Print(in.c_str(), flags); }).out) << flags;
    }

    // PMT-change runs named by their CRC, in either case.
    tsb::Stream188 runs;
    Bytes a = tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}});
    Bytes b = tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}}, 1);
    for (const Bytes* pmt : {&a, &b, &a}) {
        runs.pat({{1, 0x100}});
        runs.section(0x100, *pmt);
        runs.es(0x101);
    }
    in = dir.write("in.ts", runs.bytes);
    char crc[16];
    std::snprintf(crc, sizeof crc, "0x%02x%02x%02x%02x", b[b.size() - 4], b[b.size() - 3], b[b.size() - 2], b.back());
    nlohmann::json doc = nlohmann::json::parse(ts({"pmt-survey", "--json", in}).out)["runs"];
    EXPECT_EQ(doc[1]["crc"], crcHex(b));
    EXPECT_EQ(doc[2]["occurrence"], 1);
    EXPECT_EQ(doc[2]["size"], 564);
    EXPECT_EQ(doc.size(), 3u);
    ASSERT_EQ(ts({"pmt-split", in, "--crc", crc, "--output", out}).status, 0);
    EXPECT_TRUE(tsb::readFile(out) == runs.packets({3, 4, 5}));
    // Without --output, the file is named by its PMT's CRC as every segment is.
    ASSERT_EQ(ts({"pmt-split", in, "--crc", crc}).status, 0);
    EXPECT_TRUE(tsb::readFile(dir.file("in_" + crcHex(b) + ".ts")) == runs.packets({3, 4, 5}));
}

TEST(CommandLine, UsageErrorsHelpAndVersions) {
    const std::vector<std::string> usage[] = {
        {}, {"frob"}, {"--frob"}, {"dump"}, {"dump", "--nope", "in.ts"}, {"dump", "a.ts", "b.ts"}, {"programs"},
        {"extract", "in.ts", "out.ts"}, {"extract", "--pmt-pid", "0x100", "--program", "1", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "0x2000", "in.ts", "out.ts"}, {"extract", "--pmt-pid", "12a", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "-1", "in.ts", "out.ts"}, {"extract", "--pmt-pid", "0x", "in.ts", "out.ts"},
        {"extract", "--program", "0", "in.ts", "out.ts"}, {"extract", "--program", "65536", "in.ts", "out.ts"},
        {"extract", "--pmt-pid", "0x100", "in.ts"}, {"pmt-survey"}, {"pmt-split"}, {"pmt-split", "in", "--output", "o"},
        {"pmt-split", "in.ts", "--crc", "123456789"}, {"pmt-split", "in.ts", "--crc", "12G4"},
    };
    for (const auto& args : usage) {
        Outcome r = ts(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind("rivulet-ts: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("--help' for usage.\n"), std::string::npos) << r.err;
    }
    EXPECT_EQ(ts({"frob"}).err, "rivulet-ts: unknown command frob\nRun 'rivulet-ts --help' for usage.\n");
    EXPECT_NE(ts({"extract", "--help"}).out.find("Usage: rivulet-ts extract [OPTIONS]"), std::string::npos);
    EXPECT_EQ(ts({"--help"}).status, 0);
    EXPECT_EQ(ts({"--version"}).out, "rivulet-ts 1.00\n");

    const std::string banner = "=== Rivulet === v1.00\nSplit multi-program MPEG-2 TS file to one by one program files.\n"
                               "Usage: rivulet <input TS filename>\n";
    EXPECT_EQ(runTool({RIVULET_TOOL}).out, banner);
    EXPECT_EQ(runTool({RIVULET_TOOL, "--version"}).out, "rivulet 1.00\n");
    const std::string help = runTool({RIVULET_TOOL, "-h"}).out;  // one synopsis
    EXPECT_EQ(help.rfind("Rivulet 1.00: split multi-program MPEG-2 transport streams into one file per program.\n"
                         "Usage: rivulet [-o DIR]", 0), 0u) << help;
    EXPECT_EQ(help.find("Usage:", help.find("Usage:") + 1), std::string::npos) << help;
    EXPECT_EQ(runTool({RIVULET_TOOL, "--help", "in.ts"}).out, help);
    // The option list: each description from column 24 on (its continuation
    // lines too); a longer label keeps two spaces before it.
    std::istringstream lines(help);
    size_t options = 0;
    bool continued = false;  // the line before belongs to an option
    for (std::string line; std::getline(lines, line);) {
        const size_t label = line.find_first_not_of(' ');
        const bool option = (label == 2 || label == 6) && line[label] == '-';
        if (continued && !option && label != std::string::npos && label > 2) {
            EXPECT_EQ(label, 24u) << line;
            continue;
        }
        continued = option;
        if (!option) continue;
        const size_t gap = line.find("  ", label);
        const size_t text = line.find_first_not_of(' ', gap);
        ASSERT_NE(text, std::string::npos) << line;
        EXPECT_TRUE(text == 24 || (gap >= 23 && text == gap + 2)) << line;
        ++options;
    }
    EXPECT_GE(options, 20u);
    EXPECT_EQ(runTool({RIVULET_TOOL, "-p", "0x0x1", "in.ts"}).status, 2);
    const std::string pointer = "\nRun 'rivulet --help' for usage.\n";
    EXPECT_EQ(runTool({RIVULET_TOOL, "in.ts", "-p"}).err, "rivulet: missing program number after -p" + pointer);
    for (auto [option, value, message] : {std::tuple{"-x", "", "unknown option -x"},
                                          {"--anme", "", "unknown option --anme (did you mean --name?)"},  // two letters swapped: one slip
                                          {"--nane", "", "unknown option --nane (did you mean --name?)"},  // one letter changed: one slip
                                          {"--si=1", "", "--si takes no value"},
                                          {"--margin", "3601", "not seconds BEFORE[,AFTER]: 3601"},
                                          {"-p", "0", "not a program number from 1 to 65535: 0"},
                                          {"--follow=soon", "", "not a number of seconds: soon"},
                                          {"-j", "17", "not a number of threads from 1 to 16: 17"},
                                          {"-t", "tv,cinema", "not a list of tv, radio, data: tv,cinema"},
                                          {"--name", "{base}_{x", "unclosed name field {x"},
                                          {"--drop", "data,subtitels", "unknown component subtitels (did you mean subtitles?); the "
                                                                      "components are video audio subtitles superimpose teletext data "
                                                                      "scte35 unknown"},
                                          {"--drop", "sbutitels", "unknown component sbutitels (did you mean subtitles?); the "
                                                                 "components are video audio subtitles superimpose teletext data "
                                                                 "scte35 unknown"},  // two slips
                                          {"--drop", "xyzaudio", "unknown component xyzaudio; the components are video audio "
                                                                 "subtitles superimpose teletext data scte35 unknown"},  // three slips
                                          {"--fail-on", "drops,drop", "unknown damage drop; the kinds are drops scrambled tei gaps"},
                                          {"--sidecar", "nfo,xml", "unknown sidecar xml; the sidecars are nfo json txt edl err"},
                                          {"--audio", "en,fr", "not first or three-letter language codes (eng,fra): en,fr"},
                                          {"-n", "{program}{servce}", "unknown name field {servce} (did you mean {service}?); the fields are "
                                                                      "{base} {program} {dup} {rev} {service} {provider} {type} {event} "
                                                                      "{event_id} {start} {end} {duration}"}}) {
        Outcome usage = runTool({RIVULET_TOOL, option, value, "in.ts"});
        EXPECT_EQ(usage.status, 2);
        EXPECT_EQ(usage.err, std::string("rivulet: ") + message + pointer);
    }
}

// Each option of --help (made from the parser's own table) is one the parser
// takes, and the man page and the options page describe it with the same
// short form; neither describes an option more.
TEST(CommandLine, OptionsAgreeInHelpManPageAndDocs) {
    const std::string help = runTool({RIVULET_TOOL, "--help"}).out;
    std::string man = text(RIVULET_SOURCE_DIR "/man/rivulet.1");
    for (size_t at = man.find("\\-"); at != std::string::npos; at = man.find("\\-", at)) man.erase(at, 1);
    const std::string docs = text(RIVULET_SOURCE_DIR "/docs/options.md");
    static const std::regex listed("\n  (-\\w), (--[\\w-]+)|\n      (--[\\w-]+)");
    std::ptrdiff_t options = 0;
    for (std::sregex_iterator it(help.begin(), help.end(), listed), end; it != end; ++it, ++options) {
        const std::string shortName = (*it)[1];
        const std::string longName = (*it)[1].matched ? (*it)[2] : (*it)[3];
        for (const std::string& given : {shortName, longName}) {
            if (given.empty()) continue;
            EXPECT_EQ(runTool({RIVULET_TOOL, given}).err.find("unknown option"), std::string::npos) << given;
        }
        const std::string inMan = "\\.TP\n\\.B[RI]? " + (shortName.empty() ? "" : shortName + " \", \" ") + longName + "[ \n]";
        EXPECT_TRUE(std::regex_search(man, std::regex(inMan))) << inMan;
        const std::string inDocs = "\n\\| `" + (shortName.empty() ? "" : shortName + "[^`]*`, `") + longName + "[ `\\[]";
        EXPECT_TRUE(std::regex_search(docs, std::regex(inDocs))) << inDocs;
    }
    EXPECT_GT(options, 10);
    const std::regex manOption("\\.TP\n\\.B[RI]? -");
    EXPECT_EQ(std::distance(std::sregex_iterator(man.begin(), man.end(), manOption), std::sregex_iterator()), options);
    const std::regex docsOption("\n\\| `--?[a-z]");
    EXPECT_EQ(std::distance(std::sregex_iterator(docs.begin(), docs.end(), docsOption), std::sregex_iterator()), options);
}

// Service names as broadcast: each DVB character table, emphasis codes
// dropped, bytes that do not decode (the last code point, overlong forms, a
// surrogate), characters XML does not allow; ARIB text in an ISDB stream.
TEST(CommandLine, ProgramListNamesTheServices) {
    auto sdt = [](uint16_t network, const std::vector<Bytes>& names) {
        Bytes body = {uint8_t(network >> 8), uint8_t(network), 0xFF};
        for (size_t i = 0; i < names.size(); ++i) {
            Bytes d = tsb::concat({{0x48, uint8_t(5 + names[i].size()), 0x19, 2, 'P', 'r', uint8_t(names[i].size())}, names[i]});
            tsb::append(body, tsb::concat({{0, uint8_t(i + 1), 0xFC, 0x80, uint8_t(d.size())}, d}));
        }
        tsb::Stream188 s;
        std::vector<tsb::Program> programs;
        for (uint16_t p = 1; p <= 19; ++p) programs.push_back({p, uint16_t(p << 8)});
        s.pat(programs);
        s.section(0x11, tsb::section(0x46, 9, 0, body));  // SDT other: not this stream's
        s.section(0x11, tsb::section(0x42, 9, 0, body));
        return s.bytes;
    };
    TempDir dir;
    std::string dvb = dir.write("dvb.ts", sdt(0x20FA, {{'S', 'a', 't', 0xA4}, {0x86, 'A', 0x80, 0x87, 'B', 0x8A, 0x9F, 0xA0, 0x1F},
                                                      {0x05, 'K', 0xDE}, {0x10, 0x00, 0x02, 0xA3}, {0x11, 0x04, 0x1F, 0x04, 0x35},
                                                      {0x13, 0xD6, 0xD0}, {0x15, 0xCE, 0xA9, 0xE0, 0xA0, 0x80}, {0x15, 0xFF, 'x', 0xF4, 0x90, 0x80, 0x80},
                                                      {0x12, 0xC7, 0xD1}, {0x10, 0x00, 0x41}, {0x11, 0xD8, 0x00, 0x00, 0x41},
                                                      {0x15, 0xF4, 0x8F, 0xBF, 0xBF, 0xE0, 0x80, 0x80, 0xC1, 0xBF, 0xF0, 0x80, 0x80, 0x80},
                                                      {0x15, 0xED, 0xA0, 0x80, 0xEF, 0xBF, 0xBE, 0xEE, 0x80, 0x80, 0x09, 0x1F, 0xF0, 0x90, 0x80, 0x80, 0xDF, 0xBF},
                                                      {0x01, 0xBF}, {0x0B, 0xBD}, {0x14, 0xA4, 0x40}, {0x1F, 0xC9, 'A'}, {0x0C, 'B'}, {' ', 'A'}}));
    std::vector<std::string> names;
    nlohmann::json list = nlohmann::json::parse(ts({"programs", "--json", dvb}).out);
    for (const auto& p : list["programs"]) {
        EXPECT_EQ(p["provider_name"], "Pr");
        EXPECT_EQ(p["service_type"], 0x19);
        names.push_back(p["service_name"]);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Sat€", "AB\u00A0", "KŞ", "Ł", "Пе", "中", "Ω\u0800", "\uFFFDx\uFFFD\uFFFD\uFFFD\uFFFD", "한", "", "\uFFFDA",
                                                "\U0010FFFF\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD",
                                                "\uFFFD\uFFFD\uFFFD\uE000\t\U00010000\u07FF", "П", "œ", "一", "\uFFFDA", "B", " A"}));
    std::string isdb = dir.write("isdb.ts", sdt(0x7FEF, {{0x0E, 'N', 'H', 'K'}, {}}));
    // Without a shift to the alphanumeric set, ARIB reads "Pr" as one kanji.
    const std::string first = "program 1 pmt_pid 0x0100 service_type 0x19 provider \"會\" name \"ＮＨＫ\" type tv\n"
                              "program 2 pmt_pid 0x0200 service_type 0x19 provider \"會\" name \"\" type tv\n"
                              "program 3 pmt_pid 0x0300\n";
    EXPECT_EQ(ts({"programs", isdb}).out.substr(0, first.size()), first);
    // The library's list, one record read twice: each file's own services and text.
    static TS_ProgramList programs;
    static TS_ServiceList services;
    for (const auto& [path, isISDB, name] : {std::tuple{isdb, 1, Bytes{0x0E, 'N', 'H', 'K'}}, {dvb, 0, Bytes{'S', 'a', 't', 0xA4}}}) {
        ASSERT_EQ(TS_GetProgramServices(&programs, &services, path.c_str()), 0);
        EXPECT_EQ(services.u8ISDB, isISDB) << path;
        ASSERT_EQ(services.u16Count, isISDB ? 2 : 19) << path;
        EXPECT_EQ(Bytes(services.ltService[0].service_name, services.ltService[0].service_name + services.ltService[0].service_name_length), name);
    }
}

// Several inputs, an output folder, quotes kept on a path, closed standard
// descriptors, standard output that cannot be written: each as a user meets it.
TEST(CommandLine, SplitterAmongFilesFoldersAndStandardStreams) {
    tsb::Stream188 s;
    for (int i = 0; i < 3000; ++i) {
        s.pat({{1, 0x100}});
        s.section(0x100, tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}}));
        s.es(0x101);
    }
    TempDir dir;
    TempDir out;
    std::string in = dir.write("a.ts", s.bytes);
    std::string rivulet = RIVULET_TOOL;
    dir.write("b.ts", s.bytes);
    Outcome r = runTool({rivulet, "-o", out.path(), in, dir.file("none.ts"), dir.file("b.ts")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: Failed open " + dir.file("none.ts") + ".\n  No such file or directory\n");
    Bytes full = tsb::readFile(out.file("a_1_0_0.ts"));
    EXPECT_EQ(full.size(), s.bytes.size());
    EXPECT_TRUE(tsb::readFile(out.file("b_1_0_0.ts")) == full);
    EXPECT_EQ(runTool({rivulet, "-o", dir.file("none"), in}).err,
              "Error: Failed open " + dir.file("none") + ".\n  the output folder: No such file or directory\n");
    // An output named like a later input is refused; that input is split as it was.
    dir.write("a_1_0_0.ts", s.bytes);
    r = runTool({rivulet, "-p", "000001", "-p", "65535", "-p", "8", in, dir.file("a_1_0_0.ts")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error: Failed open " + dir.file("a_1_0_0.ts") + ".\nError: no program 8 in " + dir.file("a_1_0_0.ts") +
                         ".\nError: no program 65535 in " + dir.file("a_1_0_0.ts") + ".\n");
    EXPECT_TRUE(tsb::readFile(dir.file("a_1_0_0_1_0_0.ts")) == full);
    ASSERT_EQ(::mkdir(dir.file("'q").c_str(), 0755), 0);
    // Junk first: a warning at the end, which must not land in an output file.
    dir.write("'q/show.ts'", tsb::concat({Bytes(100, 0), s.bytes}));
    ASSERT_EQ(runTool({"/bin/sh", "-c", "cd '" + dir.path() + "' && exec >&- 2>&- " + rivulet + " \"'q/show.ts'\""}).status, 0);
    EXPECT_TRUE(tsb::readFile(dir.file("'q/show_1_0_0.ts")) == full);
    // A base name for an input named without a folder: beside it.
    ASSERT_EQ(runTool({"/bin/sh", "-c", "cd '" + dir.path() + "' && " + rivulet + " -b named a.ts"}).status, 0);
    EXPECT_TRUE(tsb::readFile(dir.file("named_1_0_0.ts")) == full);
    for (const char* command : {"programs --json", "dump --all"}) {
        Outcome f = runTool({"/bin/sh", "-c", std::string(RIVULET_TS_TOOL) + " " + command + " '" + in + "' > /dev/full"});
        EXPECT_EQ(f.status, 1) << command;
        EXPECT_EQ(f.err, "Error: Failed write standard output.\n") << command;
    }
    EXPECT_EQ(runTool({"/bin/sh", "-c", std::string(RIVULET_TS_TOOL) + " check - < /dev/null"}).err,
              "Error: No transport stream packets in standard input.\n");
}
