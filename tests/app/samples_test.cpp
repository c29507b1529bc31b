// Real captures (RIVULET_SAMPLES, or ../shared/samples beside the project)
// split with their service information: a player names each file's service.

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
