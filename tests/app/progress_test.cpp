// The progress line of the writing commands: drawn and erased on a
// terminal, never written to a pipe, absent from the commands that only read.

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "app/progress/progress_line.h"
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

// Megabytes of 10^6 bytes; the time run only on input of no size. Updates
// at most one per interval; a terminal that fails to take the line is left.
TEST(ProgressLine, TextAndPace) {
    using namespace rivulet;
    char buffer[kProgressTextSize];
    const uint64_t second = kNanosecondsPerSecond;
    EXPECT_EQ(std::string(buffer, progressFormat(buffer, sizeof buffer, 1000000, 0, 2 * second)), " 1 MB  0.5 MB/s  2 s");
    EXPECT_EQ(std::string(buffer, progressFormat(buffer, sizeof buffer, 0, 1, second)), "  0%  0.0 MB/s");
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ProgressLine line;
    progressBegin(&line, fds[1], 0);
    progressUpdate(&line, 1, 2, second);
    progressUpdate(&line, 2, 2, second + kProgressIntervalNs - 1);
    progressUpdate(&line, 2, 2, second + kProgressIntervalNs);
    progressErase(&line);
    progressErase(&line);
    ::close(fds[1]);
    EXPECT_EQ(text("/dev/fd/" + std::to_string(fds[0])), " 50%  0.0 MB/s\r100%  0.0 MB/s\r\r\033[K");
    ::close(fds[0]);
    progressBegin(&line, -1, 0);
    progressUpdate(&line, 1, 1, 1);
}
