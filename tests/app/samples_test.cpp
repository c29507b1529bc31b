// Real captures (RIVULET_SAMPLES, or ../shared/samples beside the project)
// split with their service information: a player names each file's service.

#include <filesystem>
#include <map>

#include <nlohmann/json.hpp>

#include "tests/support/test.h"

namespace {

// "1,Name,2,Other," as ffprobe lists a file's programs and service names.
std::string ffprobeNames(const std::string& file) {
    std::string out = runTool({"/bin/sh", "-c", "ffprobe -v error -show_entries program=program_id:program_tags="
                                                "service_name -of csv=p=0 '" + file + "' | tr -d '\\n'"}).out;
    return out;
}

}  // namespace

TEST(Samples, PlayersNameTheServiceOfEachFileWithServiceInformation) {
    std::string samples = samplesDir();
    if (samples.empty() || runTool({"/bin/sh", "-c", "command -v ffprobe"}).status != 0) {
        GTEST_SKIP() << "needs the sample captures and ffprobe";
    }
    for (const char* capture : {"dvb_si_nit_sdt_eit_tdt_tot.ts", "dvb_t_arte_2pkt_pmt.ts", "dvb_2prog_pat_version_change.ts"}) {
        SCOPED_TRACE(capture);
        TempDir dir;
        std::string in = dir.write("in.ts", tsb::readFile(samples + "/" + capture));
        std::string all = ffprobeNames(in);
        ASSERT_EQ(runTool({RIVULET_TOOL, "--si", in}).status, 0);
        // An extraction has no PAT for a player to start from, but carries the SDT all the same.
        std::string program = all.substr(0, all.find(','));
        ASSERT_EQ(runTool({RIVULET_TS_TOOL, "extract", "--si", "--program", program, in, dir.file("x.es")}).status, 0);
        EXPECT_FALSE(packetsOf(tsb::readFile(dir.file("x.es")), 0x11).empty());
        for (const auto& [name, bytes] : dir.outputs()) {
            if (name == "x.es") continue;
            std::string one = ffprobeNames(dir.file(name));
            EXPECT_NE(one.find(','), std::string::npos) << name << ": " << one;  // a service name
            EXPECT_NE(all.find(one), std::string::npos) << name << ": " << one;  // the input's own for the program
        }
    }
}

// Every capture cut at its events with sidecars: each file's programme names
// the event and genres rivulet-ts events --json shows for it (the title read
// through a path of its own, the present event's); where the validators are
// installed, every .json keeps the schema, every .nfo is well-formed XML and
// every guide as XMLTV passes XMLTV's own validator.
TEST(Samples, SidecarsNameTheEventsTheListShowsAndValidate) {
    const std::string samples = samplesDir();
    if (samples.empty()) GTEST_SKIP() << "needs the sample captures";
    const bool validators = runTool({"/bin/sh", "-c", "command -v tv_validate_file && command -v xmllint && "
                                                      "python3 -c 'import jsonschema'"}).status == 0;
    const std::string validate = "import json, sys, jsonschema\n"
                                 "schema = json.load(open(sys.argv[1]))\n"
                                 "for path in sys.argv[2:]: jsonschema.validate(json.load(open(path)), schema)\n";
    size_t compared = 0;
    for (const auto& capture : std::filesystem::directory_iterator(samples)) {
        if (capture.path().extension() != ".ts") continue;
        const std::string in = capture.path();
        SCOPED_TRACE(in);
        TempDir dir;
        runTool({RIVULET_TOOL, "-e", "--margin", "3", "--sidecar", "json,nfo", "-o", dir.path(), in});
        std::map<std::pair<int, int>, nlohmann::json> listed;  // (program, event_id) -> name and genres
        const nlohmann::json events = nlohmann::json::parse(runTool({RIVULET_TS_TOOL, "events", "--json", in}).out);
        for (const auto& program : events["programs"]) {
            for (const auto& e : program["events"]) {
                listed[{program["program_number"], e["event_id"]}] = {e["name"], e.value("genres", nlohmann::json::array())};
            }
        }
        for (const auto& [name, bytes] : dir.outputs()) {
            if (name.size() < 5 || name.substr(name.size() - 5) != ".json") continue;
            const nlohmann::json record = nlohmann::json::parse(bytes);
            if (!record.contains("event_id")) continue;
            const auto want = listed.find({record["program_number"], record["event_id"]});
            ASSERT_NE(want, listed.end()) << name;
            EXPECT_EQ(record.value("name", ""), want->second[0]) << name;
            EXPECT_EQ(record.value("genres", nlohmann::json::array()), want->second[1]) << name;
            ++compared;
        }
        if (!validators) continue;
        const std::string check = "cd \"$0\" && for f in *.json; do [ -e \"$f\" ] || continue; python3 -c \"$1\" \"$2\" \"$f\" || exit 1; done; "
                                  "for f in *.nfo; do [ -e \"$f\" ] || continue; xmllint --noout \"$f\" || exit 1; done; "
                                  "\"$3\" epg --xmltv --other \"$4\" > guide.xml && { grep -q '<programme' guide.xml || exit 0; } && "
                                  "XMLTV_SUPPLEMENT=/usr/share/xmltv tv_validate_file guide.xml";
        const Outcome valid = runTool({"/bin/sh", "-c", check, dir.path(), validate, RIVULET_SOURCE_DIR "/docs/schema/programme.schema.json",
                                       RIVULET_TS_TOOL, in});
        EXPECT_EQ(valid.status, 0) << valid.out << valid.err;
    }
    EXPECT_GE(compared, 5u);  // the programmes of the captures with EIT
}
