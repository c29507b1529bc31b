// Programs chosen by service name and type, and files named from the service
// information: each chosen file is the file its program number gives.

#include <map>
#include <nlohmann/json.hpp>

#include "tests/support/test.h"

namespace {

using Args = std::vector<std::string>;

// An SDT actual entry: service_id, EIT p/f flag, service descriptor.
Bytes sdtEntry(uint16_t id, bool presentFollowing, const Bytes& name, uint8_t type = 0x01) {
    Bytes d = tsb::concat({{0x48, uint8_t(4 + name.size()), type, 1, 'P', uint8_t(name.size())}, name});
    return tsb::concat({{uint8_t(id >> 8), uint8_t(id), uint8_t(0xFC | presentFollowing), uint8_t(0x80 | d.size() >> 8), uint8_t(d.size())}, d});
}

Bytes sdt(uint8_t version, const std::vector<Bytes>& entries) {
    Bytes body = {0x20, 0xFA, 0xFF};
    for (const Bytes& e : entries) tsb::append(body, e);
    return tsb::section(0x42, 1, version, body);
}

// EIT present/following actual, section 0: one event starting at MJD `mjd`, hh:mm (BCD).
Bytes presentEvent(uint16_t service, uint8_t version, const std::string& title, uint16_t mjd, uint8_t hh, uint8_t mm) {
    Bytes name(title.begin(), title.end());
    Bytes d = tsb::concat({{0x4D, uint8_t(5 + name.size()), 'i', 't', 'a', uint8_t(name.size())}, name, {0}});
    Bytes event = tsb::concat({{0, 1, uint8_t(mjd >> 8), uint8_t(mjd), hh, mm, 0, 0, 30, 0, 0x80, uint8_t(d.size())}, d});
    return tsb::section(0x4E, service, version, tsb::concat({{0, 1, 0x20, 0xFA, 0, 0x4E}, event}));
}

Bytes utf8(const std::string& text) { return tsb::concat({{0x15}, Bytes(text.begin(), text.end())}); }

Outcome rivulet(const Args& options, const std::string& in, const std::string& out) {
    Args argv = {RIVULET_TOOL, "-o", out};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(in);
    return runTool(argv);
}

// Three programs (tv, radio, data), named by a late SDT; program 1 has an
// event, is renamed, leaves and returns.
Bytes threePrograms() {
    tsb::Stream188 s;
    s.pat({{1, 0x100}, {2, 0x200}, {3, 0x300}});
    s.section(0x100, tsb::pmtSection(1, 0x101, {}, {{0x02, 0x101, {}}}));
    s.section(0x200, tsb::pmtSection(2, 0x201, {}, {{0x03, 0x201, {}}}));
    s.section(0x300, tsb::pmtSection(3, 0x1FFF, {}, {{0x05, 0x301, {}}}));
    for (int i = 0; i < 400; ++i) {
        s.es(0x101);
        s.es(0x201);
        s.es(0x301);
    }
    Bytes radio = {0x01, 0xC0, 0xD0, 0xD4, 0xD8, 0xDE};  // ISO 8859-5 "Радио"
    s.section(0x11, sdt(0, {sdtEntry(1, true, utf8("Rai 1")), sdtEntry(2, false, radio, 0x02),
                            sdtEntry(9, false, utf8("Ghost"))}));
    for (int i = 0; i < 50; ++i) {
        s.es(0x101);
        s.es(0x201);
    }
    s.section(0x12, presentEvent(1, 0, "News ", 60369, 0x19, 0x30));  // 2024-02-29, a blank behind the title
    s.es(0x101);
    s.pat({{2, 0x200}, {3, 0x300}}, 1);
    s.section(0x11, sdt(1, {sdtEntry(1, true, utf8("Rai Uno Ⅻ𐐀")), sdtEntry(2, false, radio, 0x02)}));
    s.section(0x12, presentEvent(1, 1, "Late night news, sport and weather", 60309, 0x23, 0x59));  // 2023-12-31, the last minute of a year
    s.pat({{1, 0x100}, {2, 0x200}, {3, 0x300}}, 2);
    s.es(0x101);
    s.es(0x201);
    return s.bytes;
}

}  // namespace

TEST(ServiceChoice, ChosenFilesAreTheFilesOfTheirProgramNumbersNamedByTheirServices) {
    const std::string kHint = "  rivulet-ts programs {in} lists the services\n";
    TempDir dir;
    std::string in = dir.write("in.ts", threePrograms());
    struct Case {
        Args choice;
        Args byNumber;
        int status;
        std::string err;
        std::string late = "";  // the file of the program number that a choice by a later name misses
    } cases[] = {
        {{"-s", "rai1"}, {"-p", "1"}, 0, ""},
        {{"-s", "радио"}, {"-p", "2"}, 0, ""},
        {{"--type=radio,data"}, {"-p", "2", "-p", "3"}, 0, ""},
        {{"-t", "tv", "-p", "3"}, {"-p", "1", "-p", "3"}, 0, ""},
        {{"--service", "RAI UNO ⅻ𐐨"}, {"-p", "1"}, 0,
         "Warning: program 1 of {in} is chosen only from byte 246280 on; its file begins at the next PAT.\n", "in_1_0_0.ts"},
        {{"-s", "nope", "-s", "\u200ARai\u202F1\u3000"}, {"-p", "1"}, 1, "Error: no service \"nope\" in {in}.\n" + kHint},
        {{"-s", "Ghost"}, {}, 1, "Error: no service \"Ghost\" in {in}.\n" + kHint},
    };
    TempDir none;
    Outcome folder = rivulet({"-s", "Rai 1"}, dir.path(), none.path());
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.err, "Error: Failed read " + dir.path() + ".\n  Is a directory\n");
    // Names one bit from a service's (in a character of two, three and four
    // bytes, in each byte of the last), a stray byte and a cut character.
    for (const std::string near : {"радип", "rai uno ℻𐐨", "rai uno ⅻ\U00011428", "rai uno ⅻ\U00010468",
                                   "rai uno ⅻ\U00010429", "Rai 1\x80\xC3"}) {
        EXPECT_EQ(rivulet({"-s", near}, in, none.path()).err, "Error: no service \"" + near + "\" in " + in + ".\n" + withInput(kHint, in));
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.choice.back());
        TempDir chosen;
        TempDir numbered;
        Outcome o = rivulet(c.choice, in, chosen.path());
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.err, withInput(c.err, in));
        if (!c.byNumber.empty()) {
            ASSERT_EQ(rivulet(c.byNumber, in, numbered.path()).status, 0);
        }
        std::map<std::string, Bytes> expected = numbered.outputs();
        expected.erase(c.late);
        EXPECT_EQ(chosen.outputs(), expected);
    }
    // Files named from the service information of their first packet; the
    // blanks and brackets that empty fields leave close up.
    TempDir out;
    TempDir gaps;
    EXPECT_EQ(rivulet({"-n", "{service}|{type}|{event}|{start}|{provider}|{base}.{program}.{dup}.{rev}"}, in, out.path()).status, 0);
    EXPECT_EQ(out.names(), (std::vector<std::string>{"3|data||||in.3.0.0.ts", "Rai 1|tv|News|20240229-1930|P|in.1.0.0.ts",
                                               "Rai Uno Ⅻ𐐀|tv|Late night news, sport and weather|20231231-2359|P|in.1.0.1.ts",
                                               "Радио|radio|||P|in.2.0.0.ts"}));
    EXPECT_EQ(rivulet({"-n", "{service}  {event} [{start}] ({provider})"}, in, gaps.path()).status, 0);
    EXPECT_EQ(gaps.names(), (std::vector<std::string>{"3.ts", "Rai 1 News [20240229-1930] (P).ts",
                                                      "Rai Uno Ⅻ𐐀 Late night news, sport and weather [20231231-2359] (P).ts",
                                                      "Радио (P).ts"}));
}

// Past the first megabyte read: an SDT that renames program 2, and a program
// that joins the PAT only then, named by that SDT. From a file and from a
// pipe alike: the joining program is chosen from its first packet, the
// renamed one from the rename on, with a warning.
TEST(ServiceChoice, LateServiceInformationChoosesFromWhereItComes) {
    tsb::Stream188 s;
    s.pat({{2, 0x200}});
    s.section(0x11, sdt(0, {sdtEntry(2, false, utf8("Old"), 0x02)}));
    s.section(0x200, tsb::pmtSection(2, 0x201, {}, {{0x02, 0x201, {}}}));
    for (int i = 0; i < 6000; ++i) s.es(0x201);
    s.section(0x11, sdt(1, {sdtEntry(1, false, utf8("Rai 1")), sdtEntry(2, false, utf8("Radio X"), 0x02)}));
    s.pat({{1, 0x100}, {2, 0x200}}, 1);
    s.section(0x100, tsb::pmtSection(1, 0x101, {}, {{0x02, 0x101, {}}}));
    for (int i = 0; i < 100; ++i) {
        s.es(0x101);
        s.es(0x201);
    }
    TempDir dir;
    std::string in = dir.write("in.ts", s.bytes);
    const std::string renamed = "Warning: program 2 of {in} is chosen only from byte 1128564 on; its file begins at the next PAT.\n";
    for (auto [choice, program] : {std::pair{Args{"--type", "radio"}, "2"}, {Args{"-s", "RAI 1"}, "1"},
                                   {Args{"-s", "radio x"}, "2"}}) {
        TempDir numbered;
        TempDir chosen;
        TempDir piped;
        ASSERT_EQ(rivulet({"-p", program}, in, numbered.path()).status, 0);
        Outcome file = rivulet(choice, in, chosen.path());
        std::string pipe = "cat '" + in + "' | " + RIVULET_TOOL + " -o '" + piped.path() + "' -b in " + choice[0] +
                           " '" + choice[1] + "' -";
        Outcome live = runTool({"/bin/sh", "-c", pipe});
        for (const auto& [outcome, out, name] : {std::tuple{&file, &chosen, in}, {&live, &piped, std::string("standard input")}}) {
            EXPECT_EQ(outcome->status, 0);
            bool late = choice[1] == "radio x";
            std::string err = late ? renamed.substr(0, 22) + name + renamed.substr(26) : "";
            EXPECT_EQ(outcome->err, err) << name;
            if (!late) {
                EXPECT_EQ(out->outputs(), numbered.outputs()) << program << name;
            }
        }
    }
}

// An SDT in two sections is whole once both sections of one version are in:
// a section of a new version does not complete the old one's, so the list
// of a pipe, printed once its facts are settled, waits for program 1's name.
// Program 2 states data (0xC0, as 1seg does) over video: it is tv.
TEST(ServiceChoice, AnSDTIsWholeWhenEverySectionOfOneVersionIsIn) {
    tsb::Stream188 s;
    s.pat({{1, 0x100}, {2, 0x200}});
    s.section(0x100, tsb::pmtSection(1, 0x101, {}, {{0x02, 0x101, {}}}));
    s.section(0x200, tsb::pmtSection(2, 0x201, {}, {{0x02, 0x201, {}}}));
    s.section(0x11, tsb::numbered(sdt(0, {sdtEntry(2, false, {'T', 'w', 'o'}, 0xC0)}), 0, 1));
    s.section(0x11, tsb::numbered(sdt(1, {sdtEntry(9, false, utf8("Nine"))}), 1, 1));
    for (int i = 0; i < 50; ++i) {
        s.es(0x101);
        s.es(0x201);
    }
    s.section(0x11, tsb::numbered(sdt(1, {sdtEntry(1, false, utf8("One"))}), 0, 1));
    s.es(0x101);
    // Then renamed, and back: a file, read to its end, lists the last name.
    s.section(0x11, tsb::numbered(sdt(2, {sdtEntry(1, false, utf8("Uno"))}), 0, 1));
    s.es(0x101);
    // Program 2, listed without its descriptors, has no name now (a pipe's list was printed before).
    s.section(0x11, tsb::numbered(sdt(3, {sdtEntry(1, false, utf8("One")), {0, 2, 0xFC, 0x80, 0}}), 0, 1));
    s.es(0x101);
    TempDir dir;
    std::string in = dir.write("in.ts", s.bytes);
    const std::string listed = "program 1 pmt_pid 0x0100 service_type 0x01 provider \"P\" name \"One\" type tv streams \"mpeg2 video\"\n"
                               "program 2 pmt_pid 0x0200 service_type 0xC0 provider \"P\" name \"Two\" type tv stated_type data "
                               "streams \"mpeg2 video\"\n";
    EXPECT_EQ(runTool({"/bin/sh", "-c", "cat '" + in + "' | " + RIVULET_TS_TOOL + " programs -"}).out, listed);
    EXPECT_EQ(runTool({RIVULET_TS_TOOL, "programs", in}).out,
              listed.substr(0, listed.find("program 2")) +
                  "program 2 pmt_pid 0x0200 service_type 0x00 provider \"\" name \"\" type tv streams \"mpeg2 video\"\n");
    TempDir out;
    ASSERT_EQ(runTool({RIVULET_TOOL, "-p", "2", "--report", dir.file("r.json"), "-o", out.path(), in}).status, 0);
    EXPECT_EQ(nlohmann::json::parse(tsb::readFile(dir.file("r.json")))["inputs"][0]["outputs"][0]["service_name"], "");
}

TEST(ServiceChoice, HostileNamesBecomeSafeAndDistinct) {
    std::string wide;
    std::string wider;
    for (int i = 0; i < 82; ++i) wide += "中";  // 3 bytes each: near the longest name a descriptor holds
    for (int i = 0; i < 62; ++i) wider += "😀";  // 4 bytes each
    std::vector<Bytes> names = {utf8("a/b"), utf8("a\x1b[2J\x7F\xC2\x80"), utf8(".hidden"), utf8("///"), utf8("Twin"),
                                utf8("Twin"), utf8("x" + wide), utf8("   "), utf8(std::string("n\0ul", 4)), utf8(wider),
                                Bytes{0x10, 'Q'},  // a table selector cut short: the default table
                                Bytes{0x10, 0x00, 0x05, 'A', 0x86, 'B'},  // ISO 8859-5, its emphasis code dropped
                                utf8("\xED\x9F\xBF\xED\xA0\x80")};  // U+D7FF, the last letter before the surrogates; the first, a byte each U+FFFD
    tsb::Stream188 s;
    std::vector<tsb::Program> programs;
    std::vector<Bytes> entries;
    for (uint16_t p = 1; p <= names.size(); ++p) {
        programs.push_back({p, uint16_t(0x100 * p)});
        entries.push_back(sdtEntry(p, false, names[p - 1]));
    }
    s.pat(programs);
    s.section(0x11, sdt(0, entries));
    TempDir dir;
    TempDir out;
    std::string in = dir.write("in.ts", s.bytes);
    // "yy" and the name twice is 496 bytes: cut to fit 255 with ".ts", the
    // '中' at bytes 250 to 252 goes whole; so does the '😀' at 250 to 253,
    // and a lead byte left alone at byte 251, whatever it leads; a 'Ａ' that
    // ends at byte 251 stays, a U+0800 cut after its second byte goes.
    for (const Args& options : {Args{"-n", "{service}"}, Args{"-p", "7", "--name", "yy{service}{service}"},
                                Args{"-p", "10", "-n", "y{service}{service}"}, Args{"-p", "8", "-n", std::string(251, 'z') + "\xC0\x80"},
                                Args{"-p", "8", "-n", std::string(249, 'z') + "Ａx"}, Args{"-p", "8", "-n", std::string(250, 'z') + "\u0800"}}) {
        EXPECT_EQ(rivulet(options, in, out.path()).status, 0);
    }
    std::vector<std::string> want = {"8.ts",          "AB.ts", "Q.ts", "\xED\x9F\xBF\uFFFD\uFFFD\uFFFD.ts", "Twin-2.ts", "Twin.ts", "_.ts", "_hidden.ts", "a_[2J__.ts",
                                     "a_b.ts",        "n_ul.ts",   "x" + wide + ".ts",
                                     "yyx" + wide + "x.ts", wider + ".ts", "y" + wider + ".ts", std::string(251, 'z') + ".ts", std::string(249, 'z') + "Ａ.ts",
                                     std::string(250, 'z') + ".ts"};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(out.names(), want);
}

// An SDT of 300 services, before the PAT and again after it; the last is
// the PAT's one program: the watch makes room for it by forgetting services
// the PAT does not list.
TEST(ServiceChoice, TheProgramOfTheLastOfManyServicesIsNamed) {
    tsb::Stream188 s;
    for (uint8_t version : {0, 1}) {
        for (uint8_t section = 0; section < 4; ++section) {
            std::vector<Bytes> entries;
            for (int id = section * 75 + 1; id <= section * 75 + 75; ++id) {
                entries.push_back(id == 300 ? sdtEntry(1000, false, {'L', 'a', 's', 't'}) : sdtEntry(uint16_t(id), false, {'S'}));
            }
            s.section(0x11, tsb::numbered(sdt(version, entries), section, 3));
        }
        if (version == 0) {
            s.pat({{1000, 0x100}});
            s.section(0x100, tsb::pmtSection(1000, 0x101, {}, {{0x02, 0x101, {}}}));
        }
    }
    s.es(0x101);
    TempDir dir;
    EXPECT_EQ(runTool({RIVULET_TS_TOOL, "programs", dir.write("in.ts", s.bytes)}).out,
              "program 1000 pmt_pid 0x0100 service_type 0x01 provider \"P\" name \"Last\" type tv streams \"mpeg2 video\"\n");
}

// An ATSC virtual channel: its short name (UTF-16) and number name it.
TEST(ServiceChoice, VirtualChannelsNameTheirPrograms) {
    Bytes name = {0, 'W', 0, 'J', 0, 0xE9, 0, 'A', 0, '-', 0, 'H', 0, 'D'};  // UTF-16: an é takes two bytes of UTF-8
    Bytes channel = tsb::concat({name, {0xF0, 0x1C, 0x01, 0x04, 0, 0, 0, 0, 0, 1, 0, 1, 0x0D, 0xC2, 0, 1, 0xFC, 0}});
    tsb::Stream188 s;
    s.pat({{1, 0x100}});
    s.section(0x100, tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}, {0x81, 0x102, tsb::descriptor(0x0A, {'e', 'n', 'g', 0})}}));
    const std::pair<uint16_t, Bytes> tables[] = {{0x1FFB, tsb::section(0xC9, 1, 0, tsb::concat({{0, 1}, channel, {0xFC, 0}}))},
                                                 {0x11, sdt(0, {sdtEntry(1, true, {'O', 'N', 'E'})})}};
    s.section(tables[0].first, tables[0].second);
    s.es(0x101);
    TempDir dir;
    TempDir named;
    TempDir numbered;
    std::string in = dir.write("in.ts", s.bytes);
    EXPECT_EQ(runTool({RIVULET_TS_TOOL, "programs", in}).out,
              "program 1 pmt_pid 0x0100 service_type 0x02 provider \"\" name \"WJéA-HD\" channel \"7.1 WJéA-HD\" type tv "
              "streams \"h264 video; ac3 audio (eng)\"\n");
    EXPECT_EQ(rivulet({"-s", "7.1", "-n", "{service} {type}"}, in, named.path()).status, 0);
    rivulet({"-p", "1"}, in, numbered.path());
    EXPECT_EQ(named.outputs()["WJéA-HD tv.ts"], numbered.outputs()["in_1_0_0.ts"]);
    // An SDT names the program too, before or after the VCT, again and again
    // around a revision and among events: the first names every file, from a
    // file and a pipe alike.
    for (bool vctFirst : {true, false}) {
        tsb::Stream188 both;
        for (int i = 0; i < 400; ++i) {
            if (i == 200) both.pat({}, 1);
            if (i % 20 == 0) both.pat({{1, 0x100}}, uint8_t(i < 200 ? 0 : 2));
            if (i % 20 == 0) both.section(0x100, tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}}));
            if (i % 20 == 5) for (int k : {!vctFirst, vctFirst}) both.section(tables[k].first, tables[k].second);
            if (i % 100 == 7) both.section(0x12, tsb::presentEventSection(1, uint8_t(i / 100), i / 100 + 1));
            both.es(0x101);
        }
        TempDir fromFile;
        TempDir fromPipe;
        rivulet({"-n", "{service} {rev}"}, dir.write("both.ts", both.bytes), fromFile.path());
        runTool({"/bin/sh", "-c", "cat \"$2\" | \"$0\" -n '{service} {rev}' -o \"$1\" -", RIVULET_TOOL, fromPipe.path(), dir.file("both.ts")});
        const std::string name = vctFirst ? "WJéA-HD" : "ONE";
        for (const TempDir* out : {&fromFile, &fromPipe}) EXPECT_EQ(out->names(), (std::vector<std::string>{name + " 0.ts", name + " 1.ts"}));
    }
}

// What each stream carries, from its type or, for private data, its
// descriptors: registrations, DVB's audio and subtitle descriptors, ARIB's
// captions; Blu-ray's own types under its program's registration.
TEST(ServiceChoice, StreamsAreKnownByTheirTypesAndDescriptors) {
    auto registration = [](const char* id) { return tsb::descriptor(0x05, Bytes(id, id + 4)); };
    auto tagged = [](uint8_t tag, const Bytes& body = {}) { return tsb::descriptor(tag, body); };
    Bytes deu = {'d', 'e', 'u', 0x10, 0, 1, 0, 2};
    std::vector<tsb::Stream> dvb = {
        {0x24, 0x101, {}},          {0x06, 0x102, registration("AC-3")}, {0x06, 0x103, registration("EAC3")},
        {0x06, 0x104, registration("Opus")}, {0x06, 0x105, registration("HEVC")}, {0x06, 0x106, registration("KLVA")},
        {0x06, 0x107, tagged(0x59, deu)}, {0x06, 0x108, tagged(0x56, {'f', 'r', 'a', 0x09, 0x88})},
        {0x06, 0x109, tagged(0x6A, {0})}, {0x06, 0x10A, tagged(0x7A)}, {0x06, 0x10B, tagged(0x7B, {0, 0, 0, 0, 0})},
        {0x06, 0x10C, tagged(0x7C, {0x51})}, {0x06, 0x10D, tagged(0xFD, {0x00, 0x08, 0x3D})}, {0x06, 0x10E, {}},
        {0x0F, 0x10F, tagged(0x0A, {'z', 'h', 'o', 0})}, {0x87, 0x110, {}}, {0x0D, 0x111, {}}, {0x1C, 0x112, {}},
        {0x33, 0x113, {}}, {0x42, 0x114, {}}, {0xD1, 0x115, {}}, {0x06, 0x116, registration("DTS3")},
    };
    std::vector<tsb::Stream> more = {
        {0x01, 0x301, {}}, {0x03, 0x302, {}}, {0x04, 0x303, {}}, {0x05, 0x304, {}}, {0x0B, 0x305, {}}, {0x0C, 0x306, {}},
        {0x10, 0x307, {}}, {0x11, 0x308, {}}, {0x15, 0x309, {}}, {0x20, 0x30A, {}}, {0x2D, 0x30B, {}}, {0x81, 0x30C, {}},
        {0x86, 0x30D, {}}, {0x06, 0x30E, tagged(0x81, {0})}, {0x06, 0x30F, registration("DTS1")},
        {0x06, 0x310, registration("DTS2")}, {0x06, 0x311, registration("BSSD")}};
    std::vector<tsb::Stream> bluray = {{0xEA, 0x1011, {}}, {0x80, 0x1100, {}}, {0x83, 0x1101, {}}, {0x85, 0x1102, {}},
                                       {0x90, 0x1200, {}}, {0x92, 0x1201, {}}, {0x81, 0x1103, {}}, {0x82, 0x1104, {}},
                                       {0x84, 0x1105, {}}, {0x86, 0x1106, {}}, {0x91, 0x1202, {}}, {0xA1, 0x1107, {}},
                                       {0xA2, 0x1108, {}}};
    const Bytes loop = tsb::descriptor(0x0E, {0xC0, 0x00, 0x00});  // a program loop of 5 bytes
    const Bytes stream = streamOf({{0, tsb::patSection(1, 0, {{1, 0x100}, {2, 0x200}, {3, 0x300}})},
                                   {0x100, tsb::pmtSection(1, 0x101, loop, dvb)},
                                   {0x200, tsb::pmtSection(2, 0x1011, registration("HDMV"), bluray)},
                                   {0x300, tsb::pmtSection(3, 0x301, {}, more)}}).bytes;
    TempDir dir;
    std::string in = dir.write("in.ts", stream);
    nlohmann::json listed = nlohmann::json::parse(runTool({RIVULET_TS_TOOL, "programs", "--json", in}).out);
    EXPECT_EQ(listed["programs"][1]["streams"][0],
              nlohmann::json::parse(R"({"pid": 4113, "stream_type": 234, "kind": "video", "codec": "vc1", "language": ""})"));
    EXPECT_EQ(listed["programs"][0]["streams"].size(), dvb.size());
    EXPECT_EQ(runTool({RIVULET_TS_TOOL, "programs", in}).out,
              "program 1 pmt_pid 0x0100 type tv streams \"hevc video; ac3 audio; eac3 audio; opus audio; hevc video; "
              "klv data; dvb subtitles (deu); teletext teletext (fra); ac3 audio; eac3 audio; dts audio; aac audio; "
              "arib-captions subtitles; private unknown; aac audio (zho); eac3 audio; dsmcc data; mpeg4-audio audio; vvc video; "
              "avs video; dirac video; dts audio\"\n"
              "program 2 pmt_pid 0x0200 type tv streams \"vc1 video; lpcm audio; truehd audio; dts-hd audio; "
              "pgs subtitles; text subtitles; ac3 audio; dts audio; eac3 audio; dts-hd-ma audio; igs data; eac3 audio; "
              "dts-hd audio\"\n"
              "program 3 pmt_pid 0x0300 type tv streams \"mpeg1 video; mp2 audio; mp2 audio; sections unknown; dsmcc data; "
              "dsmcc data; mpeg4 video; aac-latm audio; metadata data; h264-mvc video; mpegh audio; ac3 audio; scte35 scte35; "
              "ac3 audio; dts audio; dts audio; smpte302m audio\"\n");
}

// Service types as DVB and ARIB number them; a PMT types what no SDT does.
TEST(ServiceChoice, ServiceTypesMakeTelevisionRadioAndData) {
    const std::vector<std::pair<uint8_t, std::string>> dvb = {
        {0x01, "tv"}, {0x02, "radio"}, {0x03, "data"}, {0x04, "tv"}, {0x05, "tv"}, {0x06, "tv"},  {0x07, "radio"},
        {0x08, "data"}, {0x09, "data"}, {0x0A, "radio"}, {0x0B, "tv"}, {0x0C, "data"}, {0x10, "data"}, {0x11, "tv"},
        {0x12, "data"}, {0x15, "data"}, {0x16, "tv"},    {0x19, "tv"}, {0x20, "tv"},   {0x21, "data"}, {0x00, ""}};
    const std::vector<std::pair<uint8_t, std::string>> arib = {
        {0x01, "tv"}, {0x02, "radio"}, {0xA1, "tv"}, {0xA2, "radio"}, {0xA3, "data"}, {0xA5, "tv"}, {0xA6, "radio"},
        {0xA4, "data"}, {0xAC, "data"}, {0xAD, "tv"}, {0xAE, "data"}, {0xC0, "data"},  {0x19, "tv"}, {0x00, ""}};
    for (auto [network, types] : {std::pair{uint16_t(0x20FA), dvb}, {uint16_t(0x7880), arib}}) {
        std::vector<tsb::Program> programs;
        Bytes body = {uint8_t(network >> 8), uint8_t(network), 0xFF};
        for (uint16_t i = 0; i < types.size(); ++i) {
            programs.push_back({uint16_t(i + 1), uint16_t(0x100 + i)});
            tsb::append(body, sdtEntry(uint16_t(i + 1), false, {'x'}, types[i].first));
        }
        programs.push_back({99, 0x300});  // no SDT entry: its PMT's audio makes it radio
        const Bytes stream = streamOf({{0, tsb::patSection(1, 0, programs)}, {0x11, tsb::section(0x42, 1, 0, body)},
                                       {0x300, tsb::pmtSection(99, 0x301, {}, {{0x03, 0x301, {}}, {0x06, 0x302, {}}})}}).bytes;
        TempDir dir;
        nlohmann::json list = nlohmann::json::parse(runTool({RIVULET_TS_TOOL, "programs", "--json", dir.write("in.ts", stream)}).out);
        ASSERT_EQ(list["programs"].size(), types.size() + 1);
        for (size_t i = 0; i < types.size(); ++i) {
            EXPECT_EQ(list["programs"][i].value("type", ""), types[i].second) << network << " " << i;  // "": unknown
        }
        EXPECT_EQ(list["programs"][types.size()]["type"], "radio");
    }
}

// A partial stream names its services in a SIT; ARIB's network
// identification makes its text ARIB's. A service listed without a service
// descriptor, as recorders write, is not described.
TEST(ServiceChoice, PartialStreamsNameTheirServicesInTheirSIT) {
    Bytes service = tsb::descriptor(0x48, {0x01, 0, 4, 0x0E, 'N', 'H', 'K'});
    Bytes info = tsb::descriptor(0xC2, {'J', 'P', 'N', 0, 0, 0, 0});
    Bytes body = tsb::concat({{0xF0, uint8_t(info.size())}, info, {0, 1, 0x80, uint8_t(service.size())}, service, {0, 2, 0x80, 0}});
    const Bytes stream = streamOf({{0, tsb::patSection(1, 0, {{1, 0x100}, {2, 0x200}})}, {0x1F, tsb::section(0x7F, 0xFFFF, 0, body)},
                                   {0x100, tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}})}}).bytes;
    TempDir dir;
    TempDir named;
    std::string in = dir.write("in.ts", stream);
    EXPECT_EQ(rivulet({"-s", "ＮＨＫ", "-n", "{service}"}, in, named.path()).status, 0);
    EXPECT_EQ(named.names(), std::vector<std::string>{"ＮＨＫ.ts"});
    const std::string listed = runTool({RIVULET_TS_TOOL, "programs", in}).out;
    EXPECT_EQ(listed.substr(listed.find("program 2")), "program 2 pmt_pid 0x0200\n");
}

// Names are awaited for 10 s of stream time, by the PCR of the first PID that
// has one: a name that comes later, in an SDT or a partial stream's SIT,
// chooses its program only from there: one just after the PCR of 10 s is
// late. The input is read ahead in blocks of 1 MiB, here 2 s each.
TEST(ServiceChoice, NamesAreAwaitedTenSecondsOfStreamTime) {
    const Bytes null = tsb::packet({.pid = TS_PID_NULL});
    const Bytes service = tsb::descriptor(0x48, {0x01, 0, 4, 'L', 'a', 't', 'e'});
    const Bytes sit = tsb::section(0x7F, 0xFFFF, 0, tsb::concat({{0xF0, 0x00, 0, 1, 0x80, uint8_t(service.size())}, service}));
    for (auto [tenths, pid] : {std::pair{100u, 0x11}, {101u, 0x11}, {130u, 0x1F}}) {
        tsb::Stream188 s;
        s.pat({{1, 0x100}});
        s.section(0x100, tsb::pmtSection(1, 0x101, {}, {{0x02, 0x101, {}}}));
        size_t named = 0;
        for (uint64_t tenth = 0; tenth <= 140; ++tenth) {
            if (tenth == tenths) {
                named = s.section(uint16_t(pid), pid == 0x11 ? sdt(0, {sdtEntry(1, false, utf8("Late"))}) : sit);
                s.pat({{1, 0x100}});
            }
            s.add(tsb::packet({.pid = 0x101, .hasAdaptation = true, .hasPayload = false, .adaptation = tsb::pcrAdaptation(tenth * 9000, 0)}));
            for (int i = 0; i < 278; ++i) s.add(null);
        }
        TempDir dir;
        TempDir out;
        std::string in = dir.write("in.ts", s.bytes);
        Outcome o = rivulet({"-s", "late"}, in, out.path());
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.err, tenths <= 100 ? "" : "Warning: program 1 of " + in + " is chosen only from byte " + std::to_string(named * 188) +
                                                " on; its file begins at the next PAT.\n");
    }
}

// Programs that join the PAT after the first names came, and are named
// later still: program 3 joins at 1.5 s and is named at 2.6 s, program 2
// joins at 2.0 s and is named at 3.0 s. Each is held for its name: chosen by
// it, or named by it, from a file, a pipe or a followed file, its file is
// the file its number gives.
TEST(ServiceChoice, AProgramThatJoinsLaterIsHeldForItsName) {
    tsb::Stream188 s;
    std::vector<tsb::Program> pat = {{1, 0x100}};
    std::vector<Bytes> names = {sdtEntry(1, false, utf8("One"))};
    for (uint32_t tenth = 0; tenth < 40; ++tenth) {
        if (tenth == 15) pat.push_back({3, 0x300});
        if (tenth == 20) pat.push_back({2, 0x200});
        if (tenth == 26) names.push_back(sdtEntry(3, false, utf8("Three")));
        if (tenth == 30) names.push_back(sdtEntry(2, false, utf8("Two")));
        s.pat(pat, uint8_t(pat.size()));
        s.section(0x11, sdt(uint8_t(names.size()), names));
        for (const tsb::Program& program : pat) {
            const uint16_t pid = uint16_t(program.pid + 1);
            s.section(program.pid, tsb::pmtSection(program.number, pid, {}, {{0x02, pid, {}}}));
            s.add(tsb::packet({.pid = pid, .cc = s.cc[pid], .hasAdaptation = true,
                               .adaptation = tsb::pcrAdaptation(tenth * 9000, 0)}));
            s.cc[pid] = uint8_t((s.cc[pid] + 1) & 0x0F);
            s.es(pid);
        }
    }
    TempDir dir;
    const std::string in = dir.write("in.ts", s.bytes);
    for (auto [program, name] : {std::pair{"3", "Three"}, {"2", "Two"}}) {
        TempDir numbered;
        ASSERT_EQ(rivulet({"-p", program}, in, numbered.path()).status, 0);
        const auto [numberedName, file] = *numbered.outputs().begin();
        for (const Args& choice : {Args{"-s", name}, Args{"-n", "{service}"}}) {
            for (const std::string_view reading : {"file", "pipe", "followed"}) {
                TempDir out;
                const std::string options = " -o '" + out.path() + "' -b in " + choice[0] + " '" + choice[1] + "' ";
                std::string command = std::string(RIVULET_TOOL) + options + "'" + in + "'";
                if (reading == "pipe") command = "cat '" + in + "' | " + RIVULET_TOOL + options + "-";
                if (reading == "followed") command = std::string(RIVULET_TOOL) + " --follow=1" + options + "'" + in + "'";
                EXPECT_EQ(runTool({"/bin/sh", "-c", command}).status, 0) << command;
                const std::string expected = choice[0] == "-s" ? numberedName : std::string(name) + ".ts";
                EXPECT_EQ(out.outputs()[expected], file) << command;
            }
        }
    }
}
