// The progress line: its text, its rate limit and its erasure, and the tools
// under a pseudo-terminal (where it must appear) and with standard error on a
// pipe (where it must not).
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <vector>

#include "app/progress/progress_line.h"
#include "tests/support/run_tool.h"
#include "tests/support/stream_builder.h"

using tsb::Bytes;

namespace {

constexpr uint64_t kMs = 1000000;  // nanoseconds
constexpr uint64_t kGB = 1000000000;

std::string format(uint64_t done, uint64_t total, uint64_t elapsedNs, size_t size = 64) {
    char buffer[64];
    size_t length = rivulet::progressFormat(buffer, size, done, total, elapsedNs);
    EXPECT_EQ(length, std::string(buffer).size());
    return buffer;
}

TEST(ProgressFormat, ShowsPercentageAndMegabytesPerSecond) {
    EXPECT_EQ(format(250000000, kGB, 2000 * kMs), " 25%  125.0 MB/s");
    EXPECT_EQ(format(kGB, kGB, 4000 * kMs), "100%  250.0 MB/s");
    EXPECT_EQ(format(999, 1000, 0), " 99%");   // rounded down, never 100 too early
    EXPECT_EQ(format(0, 1000, 0), "  0%");
    EXPECT_EQ(format(1500, 1000, 0), "100%");  // a file that grew while read
}

TEST(ProgressFormat, ShowsMegabytesReadWhenTheSizeIsUnknown) {
    EXPECT_EQ(format(3500000, 0, 0), " 3 MB");
    EXPECT_EQ(format(7000000, 0, 2000 * kMs), " 7 MB  3.5 MB/s");
}

TEST(ProgressFormat, StaysInsideASmallBuffer) {
    EXPECT_EQ(format(kGB, kGB, 1000 * kMs, 4), "100");
    EXPECT_EQ(format(kGB, kGB, 1000 * kMs, 8), "100%  1");
}

class ProgressLineTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::pipe(fds_), 0); }
    void TearDown() override {
        ::close(fds_[0]);
        if (fds_[1] >= 0) ::close(fds_[1]);
    }
    std::string drawn() {
        ::close(fds_[1]);
        fds_[1] = -1;
        std::string text;
        char buffer[256];
        ssize_t n;
        while ((n = ::read(fds_[0], buffer, sizeof buffer)) > 0) text.append(buffer, size_t(n));
        return text;
    }
    int fds_[2] = {-1, -1};
};

TEST_F(ProgressLineTest, DrawsAtMostTenTimesASecondAndErasesAtTheEnd) {
    rivulet::ProgressLine line;
    rivulet::progressBegin(&line, fds_[1], 0);
    rivulet::progressUpdate(&line, 100000000, kGB, 0);         // the first is always drawn
    rivulet::progressUpdate(&line, 200000000, kGB, 50 * kMs);  // too soon
    rivulet::progressUpdate(&line, 250000000, kGB, 99 * kMs);  // too soon
    rivulet::progressUpdate(&line, 300000000, kGB, 100 * kMs);
    rivulet::progressUpdate(&line, 400000000, kGB, 150 * kMs);  // too soon
    rivulet::progressUpdate(&line, 500000000, kGB, 250 * kMs);
    rivulet::progressErase(&line);
    rivulet::progressErase(&line);  // nothing left to erase
    EXPECT_EQ(drawn(), " 10%\r 30%  3000.0 MB/s\r 50%  2000.0 MB/s\r\r\033[K");
}

TEST_F(ProgressLineTest, ErasesNothingWhenNothingWasDrawn) {
    rivulet::ProgressLine line;
    rivulet::progressBegin(&line, fds_[1], 0);
    rivulet::progressErase(&line);
    EXPECT_EQ(drawn(), "");
}

// --- The tools -------------------------------------------------------------------

struct ChildOutput {
    int status = -1;
    std::string text;  // what reached the terminal, or the pipe
};

int waitFor(pid_t child) {
    int wstatus = 0;
    while (::waitpid(child, &wstatus, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

std::string readToEnd(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            text.append(buffer, size_t(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return text;  // end of file, or EIO once the terminal's last user is gone
        }
    }
}

[[noreturn]] void execute(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}

// Standard input, output and error on a new pseudo-terminal.
ChildOutput runOnTerminal(const std::vector<std::string>& argv) {
    int master = -1;
    pid_t child = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (child == 0) execute(argv);
    ChildOutput run;
    if (child < 0) return run;
    run.text = readToEnd(master);
    run.status = waitFor(child);
    ::close(master);
    return run;
}

// Standard error on a pipe, standard output discarded.
ChildOutput runWithErrorOnPipe(const std::vector<std::string>& argv) {
    int fds[2];
    ChildOutput run;
    if (::pipe(fds) != 0) return run;
    pid_t child = ::fork();
    if (child == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(fds[1], STDERR_FILENO);
        ::close(fds[0]);
        execute(argv);
    }
    ::close(fds[1]);
    run.text = readToEnd(fds[0]);
    ::close(fds[0]);
    run.status = waitFor(child);
    return run;
}

// A network entry and one program, whose PMT changes once.
Bytes singleProgramStream() {
    tsb::Stream188 s;
    uint8_t patCC = 0, pmtCC = 0, esCC = 0;
    for (uint8_t version = 0; version < 2; ++version) {
        s.add(tsb::packetize(0x0000, tsb::patSection(1, 0, {{0, 0x0010}, {1, 0x0100}}), patCC));
        s.add(tsb::packetize(0x0100, tsb::pmtSection(1, 0x0101, {}, {{0x02, 0x0101, {}}}, version), pmtCC));
        for (int i = 0; i < 20; ++i) s.add(tsb::esPacket(0x0101, esCC));
    }
    return s.bytes;
}

class ToolProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tsb::makeTempDir("progress");
        input_ = dir_ + "/in.ts";
        tsb::writeFile(input_, singleProgramStream());
    }
    void TearDown() override { tsb::removeTree(dir_); }

    // Commands that walk the input and write files: they show progress.
    std::vector<std::vector<std::string>> writingCommands() const {
        return {
            {tsb::toolPath(), input_},
            {RIVULET_TS_TOOL, "extract", "--pmt-pid", "0x100", input_, dir_ + "/extract.ts"},
            {RIVULET_TS_TOOL, "extract", "--program", "1", input_, dir_ + "/extract2.ts"},
            {RIVULET_TS_TOOL, "pmt-split", input_},
        };
    }

    std::string dir_;
    std::string input_;
};

TEST_F(ToolProgressTest, AppearsOnATerminalAndIsErasedAtTheEnd) {
    for (const auto& argv : writingCommands()) {
        ChildOutput run = runOnTerminal(argv);
        std::string label = argv.size() > 2 ? argv[1] + " " + argv[2] : argv[0];
        EXPECT_EQ(run.status, 0) << label;
        // A small file is read in one block: one update, at 100%.
        EXPECT_NE(run.text.find("100%  "), std::string::npos) << label << ": " << run.text;
        EXPECT_NE(run.text.find(" MB/s\r"), std::string::npos) << label;
        ASSERT_GE(run.text.size(), 4u) << label;
        EXPECT_EQ(run.text.substr(run.text.size() - 4), "\r\033[K") << label;
    }
    EXPECT_TRUE(tsb::fileExists(dir_ + "/in_1_0_0.ts"));
    EXPECT_TRUE(tsb::fileExists(dir_ + "/extract.ts"));
}

TEST_F(ToolProgressTest, NeverAppearsWhenStandardErrorIsAPipe) {
    for (const auto& argv : writingCommands()) {
        ChildOutput run = runWithErrorOnPipe(argv);
        std::string label = argv.size() > 2 ? argv[1] + " " + argv[2] : argv[0];
        EXPECT_EQ(run.status, 0) << label;
        EXPECT_EQ(run.text, "") << label;
    }
    EXPECT_TRUE(tsb::fileExists(dir_ + "/in_1_0_0.ts"));
    EXPECT_TRUE(tsb::fileExists(dir_ + "/extract.ts"));
}

TEST_F(ToolProgressTest, CommandsThatOnlyReadShowNone) {
    const std::vector<std::string> commands[] = {
        {RIVULET_TS_TOOL, "programs", input_},
        {RIVULET_TS_TOOL, "pmt-survey", input_},
        {RIVULET_TS_TOOL, "dump", "--pids", input_},
    };
    for (const auto& argv : commands) {
        ChildOutput run = runOnTerminal(argv);
        EXPECT_EQ(run.status, 0) << argv[1];
        EXPECT_FALSE(run.text.empty()) << argv[1];
        EXPECT_EQ(run.text.find("MB/s"), std::string::npos) << argv[1];
        EXPECT_EQ(run.text.find("\033[K"), std::string::npos) << argv[1];
    }
}

}  // namespace
