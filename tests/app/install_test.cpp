// Installation: `cmake --install` of this build into a fresh prefix puts the
// tools, the header, the man pages and a CMake package in place, and a small
// project outside the tree finds the package, links rivulet::ts and runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/run_tool.h"
#include "tests/support/stream_builder.h"

using tsb::Bytes;

namespace {

const char kConsumerCMakeLists[] = R"(cmake_minimum_required(VERSION 3.20)
project(consumer LANGUAGES CXX)
find_package(rivulet 1.0 REQUIRED)
add_executable(consumer main.cpp)
target_link_libraries(consumer PRIVATE rivulet::ts)
)";

// Prints the CRC-32 of "123456789" and the PAT packet of one program,
// as hexadecimal.
const char kConsumerMain[] = R"(#include <cstdio>
#include <rivulet/ts.h>

int main() {
    const unsigned char check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    std::printf("%08X\n", GetCRC32(0xFFFFFFFF, check, sizeof check));

    TS_Packet header = {};
    header.sync_byte = TS_SYNC_BYTE;
    header.payload_unit_start_indicator = 1;
    header.adaptation_field_control = 1;
    static TS_PAT pat = {};
    pat.section_syntax_indicator = 1;
    pat.reserved1 = 3;
    pat.section_length = 13;
    pat.transport_stream_id = 1;
    pat.reserved2 = 3;
    pat.current_next_indicator = 1;
    pat.program_count = 1;
    pat.programs[0].program_number = 1;
    pat.programs[0].reserved = 7;
    pat.programs[0].program_map_PID = 0x100;
    unsigned char packet[TS_PACKET_SIZE];
    if (TS_PAT_ToPacket(packet, &header, &pat) != 0) return 1;
    for (unsigned char byte : packet) std::printf("%02X ", byte);
    std::printf("\n");
    return 0;
}
)";

bool cmakeOnPath() { return tsb::runTool({"/bin/sh", "-c", "command -v cmake"}).status == 0; }

std::string joinOutput(const tsb::ToolResult& r) { return r.out + r.err; }

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!cmakeOnPath()) GTEST_SKIP() << "cmake is not on PATH";
        root_ = tsb::makeTempDir("install");
        prefix_ = root_ + "/prefix";
        tsb::ToolResult install =
            tsb::runTool({"/bin/sh", "-c", "exec cmake --install \"$0\" --prefix \"$1\"", PROJECT_BINARY_DIR, prefix_});
        ASSERT_EQ(install.status, 0) << joinOutput(install);
    }
    void TearDown() override {
        if (!root_.empty()) tsb::removeTree(root_);
    }

    std::string installed(const std::string& dir, const std::string& name) const {
        return prefix_ + "/" + dir + "/" + name;
    }

    std::string root_;
    std::string prefix_;
};

TEST_F(InstallTest, PutsToolsHeaderAndManPagesInPlace) {
    EXPECT_TRUE(tsb::fileExists(installed(RIVULET_INSTALL_INCLUDEDIR, "rivulet/ts.h")));
    EXPECT_TRUE(tsb::fileExists(installed(RIVULET_INSTALL_MANDIR, "man1/rivulet.1")));
    EXPECT_TRUE(tsb::fileExists(installed(RIVULET_INSTALL_MANDIR, "man1/rivulet-ts.1")));

    tsb::ToolResult rivulet = tsb::runTool({installed(RIVULET_INSTALL_BINDIR, "rivulet"), "--version"});
    EXPECT_EQ(rivulet.status, 0);
    EXPECT_EQ(rivulet.out, "rivulet 1.00\n");
    tsb::ToolResult ts = tsb::runTool({installed(RIVULET_INSTALL_BINDIR, "rivulet-ts"), "--version"});
    EXPECT_EQ(ts.status, 0);
    EXPECT_EQ(ts.out, "rivulet-ts 1.00\n");
}

TEST_F(InstallTest, AConsumerProjectFindsThePackageAndLinksTheToolkit) {
    std::string source = root_ + "/consumer", build = root_ + "/consumer-build";
    ASSERT_EQ(tsb::runTool({"/bin/mkdir", "-p", source}).status, 0);
    tsb::writeFile(source + "/CMakeLists.txt", Bytes(std::begin(kConsumerCMakeLists), std::end(kConsumerCMakeLists) - 1));
    tsb::writeFile(source + "/main.cpp", Bytes(std::begin(kConsumerMain), std::end(kConsumerMain) - 1));

    tsb::ToolResult configure = tsb::runTool(
        {"/bin/sh", "-c", "exec cmake -S \"$0\" -B \"$1\" -DCMAKE_PREFIX_PATH=\"$2\" -DCMAKE_CXX_COMPILER=\"$3\"", source,
         build, prefix_, RIVULET_CXX_COMPILER});
    ASSERT_EQ(configure.status, 0) << joinOutput(configure);
    tsb::ToolResult compile = tsb::runTool({"/bin/sh", "-c", "exec cmake --build \"$0\"", build});
    ASSERT_EQ(compile.status, 0) << joinOutput(compile);

    tsb::ToolResult run = tsb::runTool({build + "/consumer"});
    ASSERT_EQ(run.status, 0) << run.err;
    Bytes payload = {0x00};
    tsb::append(payload, tsb::patSection(1, 0, {{1, 0x100}}));
    Bytes pat = tsb::packet({.pid = 0, .pusi = true, .cc = 0, .payload = payload});
    // 0376E6E7 is the check value of CRC-32/MPEG-2.
    EXPECT_EQ(run.out, "0376E6E7\n" + tsb::hex(pat) + "\n");
}

}  // namespace
