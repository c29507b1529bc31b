// The guide of a built stream: EIT schedule and present/following sections
// of two services, a repeat, a new version, another stream's EIT after 3 s
// of PCRs; as rivulet-ts epg lists it, as XMLTV, and as events --json adds
// it to each announcement.

#include <memory>
#include <nlohmann/json.hpp>

#include "tests/support/test.h"

namespace {

Bytes chars(const std::string& s) { return Bytes(s.begin(), s.end()); }

// An event of 2024-03-15 (MJD 0xEBE0) at hh:mm (BCD), 30 minutes, with a
// short event of `title` in `language` when there is a title.
Bytes event(uint16_t id, uint8_t hh, uint8_t mm, const std::string& title, const std::string& language, Bytes more = {}) {
    Bytes descriptors = title.empty() ? Bytes{} : tsb::descriptor(0x4D, tsb::concat({chars(language), {uint8_t(title.size())}, chars(title), {0}}));
    tsb::append(descriptors, more);
    return tsb::concat({{uint8_t(id >> 8), uint8_t(id), 0xEB, 0xE0, hh, mm, 0x00, 0x00, 0x30, 0x00,
                         uint8_t(0x80 | descriptors.size() >> 8), uint8_t(descriptors.size())}, descriptors});
}

constexpr uint16_t kStream = 0x0102;  // the guide stream's transport_stream_id

// An EIT section of `table` for `service` of network 1, stream `stream`.
Bytes eit(uint8_t table, uint16_t service, uint8_t version, const std::vector<Bytes>& events, uint16_t stream = kStream) {
    Bytes body = {uint8_t(stream >> 8), uint8_t(stream), 0x00, 0x01, 0x00, table};
    for (const Bytes& e : events) tsb::append(body, e);
    return tsb::section(table, service, version, body);
}

// Services 1025 (named "News & Co") and 1026 (program 1026 of the PAT, no
// name); another stream's service 1281 after 3 s.
Bytes guideStream() {
    const Bytes premiere = event(1, 0x21, 0x00, "Premiere <1>", "fra", tsb::concat({
        tsb::descriptor(0x4D, {}),  // an empty second short event changes nothing
        tsb::descriptor(0x4E, tsb::concat({{0x00}, chars("fra"), {10, 4}, chars("Cast"), {3}, chars("Ann"), {0}})),
        tsb::descriptor(0x54, {0x23, 0x00, 0x1C, 0x00})}));
    tsb::Stream188 s;
    s.pat({{1026, 0x100}});
    s.section(0x100, tsb::pmtSection(1026, 0x1FFF, {}, {{0x02, 0x101, {}}}));
    s.section(0x11, sdtSection({{1025, "News & Co"}}, kStream));
    s.section(0x12, eit(0x50, 1025, 0, {event(2, 0x21, 0x30, "Later", "fra"), premiere}));
    s.section(0x12, eit(0x50, 1025, 0, {event(2, 0x21, 0x30, "Later", "fra"), premiere}));  // a repeat
    s.section(0x12, eit(0x50, 1025, 1, {event(2, 0x21, 0x30, "Late show", "fra")}));
    s.section(0x12, eit(0x4E, 1026, 0, {event(7, 0x20, 0x00, "A\x01" "B", "eng", tsb::descriptor(0x54, {0x23, 0})),
                                        event(8, 0x20, 0x30, "", "")}));
    for (uint64_t half = 0; half <= 6; ++half) s.add(pcrPacket(0x101, half * 45000));
    s.section(0x12, eit(0x4F, 1281, 0, {event(5, 0x22, 0x00, "Elsewhere", "deu")}, 9));
    return s.bytes;
}

Bytes u32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

// A multiple_string_structure of one string in `language` (English unless
// told) in one uncompressed segment of mode 0 (Latin-1).
Bytes atscString(const std::string& text, const std::string& language = "eng") {
    return tsb::concat({{1}, chars(language), {1, 0, 0, uint8_t(text.size())}, chars(text)});
}

constexpr uint32_t kEight = 0x531F6B52;  // 2024-03-15 20:00:00 UTC in GPS seconds (18 s ahead of UTC)

// An ATSC EIT section of `source`: events (id, minutes after 20:00, minutes long, title).
Bytes atscEIT(uint16_t source, const std::vector<std::tuple<uint16_t, uint32_t, uint32_t, std::string>>& events,
              uint8_t version = 0, const std::string& language = "eng") {
    Bytes body = {0, uint8_t(events.size())};
    for (const auto& [id, at, minutes, title] : events) {
        const uint32_t length = minutes * 60;
        const Bytes text = atscString(title, language);
        tsb::append(body, tsb::concat({{uint8_t(0xC0 | id >> 8), uint8_t(id)}, u32(kEight + at * 60),
                                       {uint8_t(0xD0 | length >> 16), uint8_t(length >> 8), uint8_t(length), uint8_t(text.size())},
                                       text, {0xF0, 0x00}}));
    }
    return tsb::section(0xCB, source, version, body);
}

// The ETT of event `event` of source 5, at `version`.
Bytes ett(uint16_t event, uint8_t version, const std::string& text) {
    return tsb::section(0xCC, 0, version, tsb::concat({{0}, u32(5u << 16 | event << 2 | 2), atscString(text)}));
}

// ATSC: the MGT names EIT-0 on 0x1D00, EIT-1 on 0x1D01, ETT-0 on 0x1E00 and
// EIT-4, past the guide's tables, on 0x1D04;
// the TVCT of stream 2748 makes source 5 channel 7.1 "KAT", program 3; an
// STT says 20:30; source 5 has 3 (21:30) in EIT-1, then events 1 (20:00)
// and 2 (20:30) in EIT-0, and an ETT for event 1; event 3's title (now in
// Chinese) and event 1's text change with their tables' next versions;
// source 9, which no channel is, has event 4.
Bytes atscGuideStream() {
    tsb::Stream188 s;
    s.pat({{3, 0x100}});
    s.section(0x100, tsb::pmtSection(3, 0x101, {}, {{0x02, 0x101, {}}}));
    const Bytes table = {0xE0, 0, 0, 0, 0, 0xF0, 0x00};  // version, number_bytes, no descriptors
    s.section(0x1FFB, tsb::section(0xC7, 0, 0, tsb::concat({{0, 0x00, 0x04}, {0x01, 0x00, 0xFD, 0x00}, table,
                                                             {0x01, 0x01, 0xFD, 0x01}, table, {0x02, 0x00, 0xFE, 0x00},
                                                             table, {0x01, 0x04, 0xFD, 0x04}, table, {0xF0, 0x00}})));
    s.section(0x1FFB, tsb::section(0xC8, 2748, 0, tsb::concat({{0, 1, 0, 'K', 0, 'A', 0, 'T', 0, 0, 0, 0, 0, 0, 0, 0},
                                                               {0xF0, 0x1C, 0x01, 0x04, 0, 0, 0, 0, 0x0A, 0xBC, 0, 3,
                                                                0x0D, 0xC2, 0, 5, 0xFC, 0x00, 0xFC, 0x00}})));
    s.section(0x1FFB, tsb::section(0xCD, 0, 0, tsb::concat({{0}, u32(kEight + 30 * 60), {18, 0x60, 0x00}})));
    s.section(0x1D01, atscEIT(5, {{3, 90, 30, "Later"}}));
    s.section(0x1D00, atscEIT(5, {{1, 0, 30, "News"}, {2, 30, 60, "Film"}}));
    s.section(0x1D00, atscEIT(9, {{4, 0, 30, "Elsewhere"}}));
    s.section(0x1D04, atscEIT(5, {{5, 720, 30, "Not listed"}}));
    s.section(0x1E00, ett(1, 0, "News at six"));
    // New versions: a table's own, repeated, is passed over.
    s.section(0x1D01, atscEIT(5, {{3, 90, 30, "Late"}}, 1, "zho"));
    s.section(0x1E00, ett(1, 1, "Local news"));
    s.section(0x1E00, ett(1, 1, "Not read"));
    for (uint64_t half = 0; half <= 2; ++half) s.add(pcrPacket(0x101, half * 45000));
    return s.bytes;
}

}  // namespace

// ATSC's guide: each source's events from EIT-0 and EIT-1, under the program
// its channel is, with the ETT's text; the STT's clock, as event 1 ends,
// makes event 2 the one the recording began in.
TEST(Guide, ListsATSCEventsUnderTheirChannels) {
    TempDir dir;
    const std::string in = dir.write("atsc.ts", atscGuideStream());
    Outcome run = runTool({RIVULET_TS_TOOL, "epg", in});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "service 3 transport_stream 2748 network 0 name \"KAT\"\n"
              "  2024-03-15T20:00:00+00:00 1800s event_id 1 \"News\"\n"
              "  2024-03-15T20:30:00+00:00 3600s event_id 2 \"Film\"\n"
              "  2024-03-15T21:30:00+00:00 1800s event_id 3 \"Late\"\n");
    run = runTool({RIVULET_TS_TOOL, "epg", "--xmltv", in});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("  <channel id=\"3.2748.0.atsc\">\n    <display-name>KAT</display-name>\n  </channel>\n"
                           "  <programme start=\"20240315200000 +0000\" stop=\"20240315203000 +0000\" channel=\"3.2748.0.atsc\">\n"
                           "    <title lang=\"eng\">News</title>\n    <desc lang=\"eng\">Local news</desc>\n"
                           "    <episode-num system=\"atsc_event_id\">1</episode-num>\n  </programme>\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("    <title lang=\"zho\">Late</title>\n"), std::string::npos) << run.out;
    // Each event the guide lists is the one it finds by its service and event_id.
    TS_Guide* guide = nullptr;
    ASSERT_EQ(TS_ReadGuide(in.c_str(), nullptr, &guide), 0);
    const std::unique_ptr<TS_Guide, decltype(&TS_Guide_Free)> owned(guide, TS_Guide_Free);
    auto listed = std::make_unique<TS_EventInfo>();
    auto found = std::make_unique<TS_EventInfo>();
    ASSERT_EQ(TS_Guide_EventCount(guide), 3u);
    for (uint32_t i = 0; i < TS_Guide_EventCount(guide); ++i) {
        ASSERT_EQ(TS_Guide_Event(guide, i, listed.get()), 0);
        ASSERT_EQ(TS_Guide_Find(guide, listed->u16ServiceId, listed->u16EventId, found.get()), 0);
        EXPECT_EQ(found->s64Start, listed->s64Start) << i;
    }
    TempDir out;
    run = runTool({RIVULET_TOOL, "--sidecar", "json", "-o", out.path(), in});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json record = nlohmann::json::parse(tsb::readFile(out.file("atsc_3_0_0.json")));
    EXPECT_EQ(record["name"], "Film");
    EXPECT_EQ(record["start"], "2024-03-15T20:30:00+00:00");
}

TEST(Guide, ListsEachServicesEventsAsTextAndXMLTV) {
    TempDir dir;
    const std::string in = dir.write("in.ts", guideStream());
    Outcome run = runTool({RIVULET_TS_TOOL, "epg", in});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "service 1025 transport_stream 258 network 1 name \"News & Co\"\n"
              "  2024-03-15T21:00:00+00:00 1800s event_id 1 \"Premiere <1>\" [documentary] [Movie/Drama]\n"
              "  2024-03-15T21:30:00+00:00 1800s event_id 2 \"Late show\"\n"
              "service 1026 transport_stream 258 network 1 name \"\"\n"
              "  2024-03-15T20:00:00+00:00 1800s event_id 7 \"AB\" [documentary]\n"
              "  2024-03-15T20:30:00+00:00 1800s event_id 8 \"\"\n");
    run = runTool({RIVULET_TS_TOOL, "epg", "--xmltv", in});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string xmltv =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n"
        "<tv generator-info-name=\"rivulet-ts\">\n"
        "  <channel id=\"1025.258.1.dvb\">\n    <display-name>News &amp; Co</display-name>\n  </channel>\n"
        "  <channel id=\"1026.258.1.dvb\">\n    <display-name>1026</display-name>\n  </channel>\n"
        "  <programme start=\"20240315210000 +0000\" stop=\"20240315213000 +0000\" channel=\"1025.258.1.dvb\">\n"
        "    <title lang=\"fra\">Premiere &lt;1&gt;</title>\n"
        "    <desc lang=\"fra\">Cast: Ann</desc>\n"
        "    <category>documentary</category>\n    <category>Movie/Drama</category>\n"
        "    <episode-num system=\"dvb_event_id\">1</episode-num>\n  </programme>\n"
        "  <programme start=\"20240315213000 +0000\" stop=\"20240315220000 +0000\" channel=\"1025.258.1.dvb\">\n"
        "    <title lang=\"fra\">Late show</title>\n"
        "    <episode-num system=\"dvb_event_id\">2</episode-num>\n  </programme>\n"
        "  <programme start=\"20240315200000 +0000\" stop=\"20240315203000 +0000\" channel=\"1026.258.1.dvb\">\n"
        "    <title lang=\"eng\">AB</title>\n"
        "    <category>documentary</category>\n"
        "    <episode-num system=\"dvb_event_id\">7</episode-num>\n  </programme>\n"
        "</tv>\n";
    EXPECT_EQ(run.out, xmltv);
    // Other streams' events when asked, unless the input's time ends first.
    EXPECT_NE(runTool({RIVULET_TS_TOOL, "epg", "--xmltv", "--other", in}).out.find("<channel id=\"1281.9.1.dvb\">"),
              std::string::npos);
    EXPECT_EQ(runTool({RIVULET_TS_TOOL, "epg", "--xmltv", "--other", "--seconds", "2", in}).out, xmltv);
    // Each service through the library, named by the SDT or not (1026).
    TS_Guide* guide = nullptr;
    ASSERT_EQ(TS_ReadGuide(in.c_str(), nullptr, &guide), 0);
    const std::unique_ptr<TS_Guide, decltype(&TS_Guide_Free)> owned(guide, TS_Guide_Free);
    ASSERT_EQ(TS_Guide_ServiceCount(guide), 2u);
    for (uint32_t i = 0; i < 2; ++i) {
        TS_GuideService service{};
        EXPECT_EQ(TS_Guide_Service(guide, i, &service), 0) << i;
        EXPECT_EQ(service.u8NameLength, i == 0 ? 9u : 0u) << i;
    }
    // Where XMLTV's own validator is installed, it takes the file.
    const std::string path = dir.write("guide.xml", Bytes(xmltv.begin(), xmltv.end()));
    run = runTool({"/bin/sh", "-c", "command -v tv_validate_file >/dev/null || exit 77; XMLTV_SUPPLEMENT=/usr/share/xmltv tv_validate_file \"$0\"", path});
    if (run.status != 77) {
        EXPECT_EQ(run.status, 0) << run.out << run.err;
    }
    // Beside a split's file, the event present when its recording began.
    TempDir out;
    run = runTool({RIVULET_TOOL, "--sidecar", "nfo,txt,json", "-o", out.path(), in});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string nfo = out.file("in_1026_0_0.nfo");
    EXPECT_EQ(tsb::readFile(nfo), chars("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<episodedetails>\n"
                                        "  <title>AB</title>\n  <aired>2024-03-15</aired>\n  <premiered>2024-03-15</premiered>\n"
                                        "  <runtime>30</runtime>\n  <genre>documentary</genre>\n"
                                        "  <uniqueid type=\"event_id\">7</uniqueid>\n</episodedetails>\n"));
    EXPECT_EQ(tsb::readFile(out.file("in_1026_0_0.txt")), chars("2024-03-15 20:00 - 20:30 +00:00\n\nAB\n\ndocumentary\n"));
    const nlohmann::json record = nlohmann::json::parse(tsb::readFile(out.file("in_1026_0_0.json")));
    EXPECT_EQ(record["name"], "AB");
    EXPECT_EQ(record["start"], "2024-03-15T20:00:00+00:00");
    EXPECT_EQ(record["verdict"]["verdict"], "clean");
    run = runTool({"/bin/sh", "-c", "command -v xmllint >/dev/null || exit 77; xmllint --noout \"$0\"", nfo});
    if (run.status != 77) {
        EXPECT_EQ(run.status, 0) << run.err;
    }
    // events --json adds what the guide says to each announcement.
    run = runTool({RIVULET_TS_TOOL, "events", "--json", in});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json first = nlohmann::json::parse(run.out)["programs"][0]["events"][0];
    EXPECT_EQ(first["event_id"], 7);
    EXPECT_EQ(first["genres"], nlohmann::json::parse(R"(["documentary"])"));
    EXPECT_EQ(first["duration_s"], 1800);
    EXPECT_EQ(first["language"], "eng");
}
