// `cmake --install` into a fresh prefix: the tools run from there, and a
// project outside the tree finds the package, links rivulet::ts and runs.
#include "tests/support/test.h"

namespace {

const char kCMakeLists[] = R"(cmake_minimum_required(VERSION 3.20)
project(consumer LANGUAGES CXX)
find_package(rivulet 1.0 REQUIRED)
add_executable(consumer main.cpp)
target_link_libraries(consumer PRIVATE rivulet::ts)
)";

// The CRC-32 check value, and whether the header's names link.
const char kMain[] = R"(#include <cstdio>
#include <rivulet/ts.h>

int main() {
    const unsigned char check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    char name[256];
    TS_Header_PIDToString(name, TS_PID_NULL);
    std::printf("%08X %s\n", GetCRC32(0xFFFFFFFF, check, sizeof check), name);
}
)";

Outcome shell(const std::string& script, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/bin/sh", "-c", script};
    argv.insert(argv.end(), args.begin(), args.end());
    return runTool(argv);
}

}  // namespace

TEST(Install, ToolsAndAConsumerProjectWorkFromThePrefix) {
    if (shell("command -v cmake", {}).status != 0) GTEST_SKIP() << "cmake is not on PATH";
    TempDir root;
    std::string prefix = root.file("prefix"), source = root.file("consumer"), build = root.file("build");
    Outcome install = shell("exec cmake --install \"$0\" --prefix \"$1\"", {PROJECT_BINARY_DIR, prefix});
    ASSERT_EQ(install.status, 0) << install.out << install.err;
    EXPECT_EQ(runTool({prefix + "/" RIVULET_INSTALL_BINDIR "/rivulet", "--version"}).out, "rivulet 1.00\n");
    EXPECT_EQ(runTool({prefix + "/" RIVULET_INSTALL_BINDIR "/rivulet-ts", "--version"}).out, "rivulet-ts 1.00\n");

    ASSERT_EQ(shell("mkdir \"$0\"", {source}).status, 0);
    tsb::writeFile(source + "/CMakeLists.txt", tsb::Bytes(kCMakeLists, kCMakeLists + sizeof kCMakeLists - 1));
    tsb::writeFile(source + "/main.cpp", tsb::Bytes(kMain, kMain + sizeof kMain - 1));
    Outcome made =
        shell("cmake -S \"$0\" -B \"$1\" -DCMAKE_PREFIX_PATH=\"$2\" -DCMAKE_CXX_COMPILER=\"$3\" && cmake --build \"$1\"",
              {source, build, prefix, RIVULET_CXX_COMPILER});
    ASSERT_EQ(made.status, 0) << made.out << made.err;
    EXPECT_EQ(runTool({build + "/consumer"}).out, "0376E6E7 Null packet\n");
    // Outside CMake, through pkg-config.
    Outcome linked = shell("export PKG_CONFIG_PATH=\"$0\"; exec \"$1\" \"$2/main.cpp\" -o \"$3\" "
                           "$(pkg-config --cflags --libs rivulet)",
                           {prefix + "/" RIVULET_INSTALL_LIBDIR "/pkgconfig", RIVULET_CXX_COMPILER, source,
                            root.file("by-pkg-config")});
    ASSERT_EQ(linked.status, 0) << linked.err;
    EXPECT_EQ(runTool({root.file("by-pkg-config")}).out, "0376E6E7 Null packet\n");
}
