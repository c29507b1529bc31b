// Real captures (RIVULET_SAMPLES, or ../shared/samples beside the project),
// through the splitter and every driver: each ends without an error, and
// every file the splitter writes opens with a PAT packet and holds whole
// packets, whatever the packet size.

#include <filesystem>
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

TEST(Samples, EveryCaptureGoesThroughEveryDriver) {
    std::string samples = samplesDir();
    if (samples.empty()) GTEST_SKIP() << "no sample captures here";
    for (const auto& entry : std::filesystem::directory_iterator(samples)) {
        if (entry.path().extension() != ".ts") continue;
        SCOPED_TRACE(entry.path().filename().string());
        TempDir dir;
        std::string in = dir.write("in.ts", tsb::readFile(entry.path()));
        Outcome split = runTool({RIVULET_TOOL, in});
        EXPECT_EQ(split.status, 0) << split.err;
        for (const auto& [name, bytes] : dir.outputs()) {
            size_t prefix = name.ends_with(".m2ts") ? 4 : 0;
            ASSERT_GE(bytes.size(), 188u + prefix) << name;
            EXPECT_EQ(bytes.size() % (188 + prefix), 0u) << name;
            EXPECT_EQ(bytes[prefix], 0x47) << name;
            EXPECT_EQ(bytes[prefix + 1] & 0xDF, 0x40) << name;  // PID 0 with a pointer_field
            EXPECT_EQ(bytes[prefix + 2], 0x00) << name;
        }
        static TS_ProgramList list;
        static TS_PMTSplitData runs;
        EXPECT_EQ(captured([&] { return TS_Print(in.c_str(), 0x1FF); }).status, 0);
        // Another program's PMT on the PMT PID is no change of this one's.
        if (entry.path().filename() == "pmt_pid_foreign_program_m6.ts") {
            ASSERT_EQ(captured([&] { return TS_CheckPMTSplit(&runs, in.c_str()); }).status, 0);
            EXPECT_EQ(runs.u16Count, 1);
        }
        EXPECT_EQ(TS_GetProgramList(&list, in.c_str()), 0);
        for (uint16_t i = 0; i < list.u16Count; ++i) {
            EXPECT_EQ(captured([&] {
                          return TS_ProgramSplitStream(dir.file("x.ts").c_str(), in.c_str(), list.lu16PMTPID[i]);
                      }).status,
                      0);
        }
    }
}

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

// The packets of every PID and the transport errors of every capture, as the
// survey beside them (made by an independent script) counts them.
TEST(Samples, CheckCountsWhatTheSurveyCounts) {
    std::string samples = samplesDir();
    if (samples.empty()) GTEST_SKIP() << "no sample captures here";
    Bytes survey = tsb::readFile(samples + "/SURVEY.json");
    if (survey.empty()) GTEST_SKIP() << "no survey of the captures";
    static TS_CheckResult result;
    for (const auto& entry : nlohmann::json::parse(survey)) {
        std::string file = entry["file"];
        SCOPED_TRACE(file);
        ASSERT_EQ(captured([&] { return TS_CheckStream(&result, (samples + "/" + file).c_str(), nullptr, nullptr); }).status, 0);
        EXPECT_EQ(result.u32PacketSize, entry["packet_size"]);
        uint64_t tei = 0;
        for (const TS_CheckPID& pid : result.ltPID) tei += pid.u64TEI;
        EXPECT_EQ(tei, entry["oddities"]["tei_packets"]);
        for (const auto& [pid, figures] : entry["pids"].items()) {
            EXPECT_EQ(result.ltPID[std::stoul(pid, nullptr, 16)].u64Packets, figures["packets"]) << pid;
        }
    }
}
