// The guide of a built stream: EIT schedule and present/following sections
// of two services, a repeat, a new version, another stream's EIT after 3 s
// of PCRs; as rivulet-ts epg lists it, as XMLTV, and as events --json adds
// it to each announcement.

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

// An EIT section of `table` for `service` of network 1, stream `stream`.
Bytes eit(uint8_t table, uint16_t service, uint8_t version, const std::vector<Bytes>& events, uint16_t stream = 1) {
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
    s.section(0x11, sdtSection({{1025, "News & Co"}}));
    s.section(0x12, eit(0x50, 1025, 0, {event(2, 0x21, 0x30, "Later", "fra"), premiere}));
    s.section(0x12, eit(0x50, 1025, 0, {event(2, 0x21, 0x30, "Later", "fra"), premiere}));  // a repeat
    s.section(0x12, eit(0x50, 1025, 1, {event(2, 0x21, 0x30, "Late show", "fra")}));
    s.section(0x12, eit(0x4E, 1026, 0, {event(7, 0x20, 0x00, "A\x01" "B", "eng", tsb::descriptor(0x54, {0x23, 0})),
                                        event(8, 0x20, 0x30, "", "")}));
    for (uint64_t half = 0; half <= 6; ++half) s.add(pcrPacket(0x101, half * 45000));
    s.section(0x12, eit(0x4F, 1281, 0, {event(5, 0x22, 0x00, "Elsewhere", "deu")}, 9));
    return s.bytes;
}

}  // namespace

TEST(Guide, ListsEachServicesEventsAsTextAndXMLTV) {
    TempDir dir;
    const std::string in = dir.write("in.ts", guideStream());
    Outcome run = runTool({RIVULET_TS_TOOL, "epg", in});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "service 1025 transport_stream 1 network 1 name \"News & Co\"\n"
              "  2024-03-15T21:00:00+00:00 1800s event_id 1 \"Premiere <1>\" [documentary] [Movie/Drama]\n"
              "  2024-03-15T21:30:00+00:00 1800s event_id 2 \"Late show\"\n"
              "service 1026 transport_stream 1 network 1 name \"\"\n"
              "  2024-03-15T20:00:00+00:00 1800s event_id 7 \"AB\" [documentary]\n"
              "  2024-03-15T20:30:00+00:00 1800s event_id 8 \"\"\n");
    run = runTool({RIVULET_TS_TOOL, "epg", "--xmltv", in});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string xmltv =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE tv SYSTEM \"xmltv.dtd\">\n"
        "<tv generator-info-name=\"rivulet-ts\">\n"
        "  <channel id=\"1025.1.1.dvb\">\n    <display-name>News &amp; Co</display-name>\n  </channel>\n"
        "  <channel id=\"1026.1.1.dvb\">\n    <display-name>1026</display-name>\n  </channel>\n"
        "  <programme start=\"20240315210000 +0000\" stop=\"20240315213000 +0000\" channel=\"1025.1.1.dvb\">\n"
        "    <title lang=\"fra\">Premiere &lt;1&gt;</title>\n"
        "    <desc lang=\"fra\">Cast: Ann</desc>\n"
        "    <category>documentary</category>\n    <category>Movie/Drama</category>\n"
        "    <episode-num system=\"dvb_event_id\">1</episode-num>\n  </programme>\n"
        "  <programme start=\"20240315213000 +0000\" stop=\"20240315220000 +0000\" channel=\"1025.1.1.dvb\">\n"
        "    <title lang=\"fra\">Late show</title>\n"
        "    <episode-num system=\"dvb_event_id\">2</episode-num>\n  </programme>\n"
        "  <programme start=\"20240315200000 +0000\" stop=\"20240315203000 +0000\" channel=\"1026.1.1.dvb\">\n"
        "    <title lang=\"eng\">AB</title>\n"
        "    <category>documentary</category>\n"
        "    <episode-num system=\"dvb_event_id\">7</episode-num>\n  </programme>\n"
        "</tv>\n";
    EXPECT_EQ(run.out, xmltv);
    // Other streams' events when asked, unless the input's time ends first.
    EXPECT_NE(runTool({RIVULET_TS_TOOL, "epg", "--xmltv", "--other", in}).out.find("<channel id=\"1281.9.1.dvb\">"),
              std::string::npos);
    EXPECT_EQ(runTool({RIVULET_TS_TOOL, "epg", "--xmltv", "--other", "--seconds", "2", in}).out, xmltv);
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
