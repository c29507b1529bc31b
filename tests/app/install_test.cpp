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

// Installed at a prefix of its own and, staged under a DESTDIR, at /usr as
// the Debian package is: the tools run, the package version is the tools',
// and the README's consumer builds through CMake and through pkg-config
// alone, whose flags name the folders plainly.
TEST(Install, ToolsAndAConsumerProjectWorkFromEitherPrefix) {
    if (shell("command -v cmake && command -v pkg-config", {}).status != 0) GTEST_SKIP() << "no cmake or pkg-config";
    TempDir root;
    std::string source = root.file("consumer");
    ASSERT_EQ(shell("mkdir \"$0\"", {source}).status, 0);
    tsb::writeFile(source + "/CMakeLists.txt", tsb::Bytes(kCMakeLists, kCMakeLists + sizeof kCMakeLists - 1));
    tsb::writeFile(source + "/main.cpp", tsb::Bytes(kMain, kMain + sizeof kMain - 1));
    std::string sanitizers = RIVULET_PC_EXTRA_LIBS;
    if (!sanitizers.empty()) sanitizers += " ";  // pkg-config ends each flag with a blank
    for (auto [stage, prefix] : {std::pair{std::string(), root.file("prefix")}, {root.file("stage"), std::string("/usr")}}) {
        SCOPED_TRACE(prefix);
        std::string at = stage + prefix;
        std::string build = at + "-consumer";
        Outcome install = shell("DESTDIR=\"$0\" exec cmake --install \"$1\" --prefix \"$2\"", {stage, PROJECT_BINARY_DIR, prefix});
        ASSERT_EQ(install.status, 0) << install.out << install.err;
        EXPECT_EQ(runTool({at + "/" RIVULET_INSTALL_BINDIR "/rivulet", "--version"}).out, "rivulet 1.00\n");
        EXPECT_EQ(shell("test -x \"$0-sample\" && test -x \"$0-chart-sample\"", {at + "/" RIVULET_INSTALL_BINDIR "/rivulet"}).status, 0);
        Outcome made = shell("cmake -S \"$0\" -B \"$1\" -DCMAKE_PREFIX_PATH=\"$2\" -DCMAKE_CXX_COMPILER=\"$3\" && cmake --build \"$1\"",
                             {source, build, at, RIVULET_CXX_COMPILER});
        ASSERT_EQ(made.status, 0) << made.out << made.err;
        EXPECT_EQ(runTool({build + "/consumer"}).out, "0376E6E7 Null packet\n");
        // Outside CMake: pkg-config alone, the staged root as its sysroot.
        std::string pkgConfig = "export PKG_CONFIG_SYSROOT_DIR=\"$0\" PKG_CONFIG_PATH=\"$1\"; ";
        std::string pcFolder = at + "/" RIVULET_INSTALL_LIBDIR "/pkgconfig";
        EXPECT_EQ(shell(pkgConfig + "exec pkg-config --modversion rivulet", {stage, pcFolder}).out,
                  "1.00\n");
        EXPECT_EQ(shell(pkgConfig + "exec pkg-config --cflags --libs rivulet", {stage, pcFolder}).out,
                  "-I" + at + "/include -L" + at + "/" RIVULET_INSTALL_LIBDIR " -lrivulet-ts " + sanitizers + "\n");
        Outcome linked = shell(pkgConfig + "exec \"$2\" \"$3/main.cpp\" -o \"$4\" $(pkg-config --cflags --libs rivulet)",
                               {stage, pcFolder, RIVULET_CXX_COMPILER, source, build + "/by-pkg-config"});
        ASSERT_EQ(linked.status, 0) << linked.err;
        EXPECT_EQ(runTool({build + "/by-pkg-config"}).out, "0376E6E7 Null packet\n");
    }
}
