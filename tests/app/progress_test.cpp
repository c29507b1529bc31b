// The progress line of the writing commands: drawn and erased on a
// terminal, never written to a pipe, absent from the commands that only read.

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/test.h"

namespace {

// What `argv` writes to a new pseudo-terminal, its standard streams.
std::string onTerminal(const std::vector<std::string>& argv) {
    int terminal = -1;
    pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child == 0) execute(argv);
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n > 0) text.append(buffer, size_t(n));
        if (n == 0 || (n < 0 && errno != EINTR)) break;
    }
    ::waitpid(child, nullptr, 0);
    ::close(terminal);
    return text;  // reading ends with EIO once the terminal's last user is gone
}

}  // namespace

TEST(ProgressLine, OnATerminalOnlyAndOnlyWhileWriting) {
    TempDir dir;
    const Bytes pmt = tsb::pmtSection(1, 0x101, {}, {{0x02, 0x101, {}}});
    std::string in = dir.write("in.ts", streamOf({{0, tsb::patSection(1, 0, {{1, 0x100}})}, {0x100, pmt}, {0x101}}).bytes);
    const std::vector<std::string> writing[] = {{RIVULET_TOOL, in},
                                                {RIVULET_TS_TOOL, "extract", "--program", "1", in, dir.file("x.ts")},
                                                {RIVULET_TS_TOOL, "pmt-split", in}};
    for (const auto& argv : writing) {
        // A small file is read in one block: one update at 100%, then erased.
        std::string text = onTerminal(argv);
        EXPECT_EQ(text.rfind("100%  ", 0), 0u) << argv[1] << ": " << text;
        EXPECT_EQ(text.substr(std::min(text.find(" MB/s"), text.size())), " MB/s\r\r\033[K") << argv[1] << ": " << text;
        EXPECT_EQ(runTool(argv).err, "") << argv[1];  // not a terminal
    }
    EXPECT_EQ(onTerminal({RIVULET_TS_TOOL, "programs", in}), "program 1 pmt_pid 0x0100 type tv streams \"mpeg2 video\"\r\n");
}
