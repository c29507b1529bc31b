// Live input: a recorder's pipe, a file still being written. The packets
// that have arrived are in the files while the input goes on, as whole
// packets, and the files at the end are those of the split of the whole.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/support/test.h"

namespace {

// Rounds of both programs behind an SDT naming program 2 `second` (none: no SDT).
Bytes recording(int rounds, char second = 'B') {
    tsb::Stream188 s;
    if (second) s.section(0x11, sdtSection({{1, "A"}, {2, std::string(1, second)}}));
    for (int i = 0; i < rounds; ++i) {
        s.pat({{1, 0x100}, {2, 0x200}});
        s.section(0x100, tsb::pmtSection(1, 0x101, {}, {{0x02, 0x101, {}}}));
        s.section(0x200, tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}}));
        s.es(0x101);
        s.es(0x201);
        s.es(0x101);
    }
    return s.bytes;
}

// The files the file split writes for `bytes`, named from `stem`.
std::map<std::string, Bytes> splitOf(const Bytes& bytes, const std::string& stem) {
    TempDir dir;
    std::string in = dir.write(stem + ".ts", bytes);
    Outcome o = runTool({RIVULET_TOOL, in});
    EXPECT_EQ(o.status, 0) << o.err;
    auto files = dir.outputs();
    files.erase(stem + ".ts");
    return files;
}

// Waits up to `seconds` for the files in `dir` to be `want`.
bool becomes(const TempDir& dir, const std::map<std::string, Bytes>& want, double seconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (dir.outputs() != want) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void append(const std::string& path, const Bytes& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ::close(fd);
}

}  // namespace

// Written in uneven pieces with a pause: at the pause, the files hold the
// split of what has arrived once a second has passed quiet (waited for up to
// three here, for a loaded machine); at the end, the split of all.
TEST(LiveInput, APipeAndAGrowingFileAreSplitAsTheyArrive) {
    Bytes all = recording(300);
    const size_t pause = 188 * 400 + 77;
    Bytes first(all.begin(), all.begin() + long(pause));
    Bytes rest(all.begin() + long(pause), all.end());
    TempDir out;
    TempDir logs;
    int pipeFDs[2];
    ASSERT_EQ(::pipe2(pipeFDs, O_CLOEXEC), 0);  // the tool keeps no write end open
    pid_t piped = spawn({RIVULET_TOOL, "-o", out.path(), "-b", "news", "-"}, pipeFDs[0], logs.file("pipe"));
    ::close(pipeFDs[0]);
    for (size_t at = 0; at < first.size(); at += 1000) {
        ASSERT_GT(::write(pipeFDs[1], &first[at], std::min<size_t>(1000 + at % 7, first.size() - at)), 0);
        at += std::min<size_t>(at % 7, first.size() - at);
    }
    EXPECT_TRUE(becomes(out, splitOf(first, "news"), 3.0));
    ASSERT_EQ(::write(pipeFDs[1], rest.data(), rest.size()), ssize_t(rest.size()));
    ::close(pipeFDs[1]);
    EXPECT_EQ(finish(piped), 0);
    EXPECT_TRUE(out.outputs() == splitOf(all, "news"));
    // A stable split of a pipe reads ahead of itself: the files of the recording's.
    TempDir stable;
    TempDir stablePiped;
    const std::string recorded = stable.write("news.ts", all);
    ASSERT_EQ(runTool({RIVULET_TOOL, "--stable", recorded}).status, 0);
    const Outcome fromPipe = runTool({"/bin/sh", "-c", "cat \"$0\" | \"$1\" --stable -b news -o \"$2\" -", recorded,
                                      RIVULET_TOOL, stablePiped.path()});
    EXPECT_EQ(fromPipe.status, 0) << fromPipe.err;
    auto stableFiles = stable.outputs();
    stableFiles.erase("news.ts");
    EXPECT_TRUE(stablePiped.outputs() == stableFiles);

    TempDir growing;
    std::string in = growing.write("rec.ts", first);
    TempDir chosen;  // by service name, as the file grows
    pid_t followed = spawn({RIVULET_TOOL, "--follow=1", in}, -1, logs.file("follow"));
    pid_t named = spawn({RIVULET_TOOL, "--follow=1", "-o", chosen.path(), "-s", "a", "-s", "B", in}, -1, logs.file("named"));
    auto want = splitOf(first, "rec");
    want["rec.ts"] = first;
    EXPECT_TRUE(becomes(growing, want, 3.0));
    EXPECT_TRUE(becomes(chosen, splitOf(first, "rec"), 3.0));
    append(in, rest);
    EXPECT_EQ(finish(followed), 0);
    EXPECT_EQ(finish(named), 0);
    want = splitOf(all, "rec");
    EXPECT_TRUE(chosen.outputs() == want);
    want["rec.ts"] = all;
    EXPECT_TRUE(growing.outputs() == want);
}

// Truncated, or written over past its size, while the follower sleeps: an
// error, the files kept whole, a recording written over never joined on.
// --base names one input's files.
TEST(LiveInput, AFollowedFileThatShrinksEndsTheSplit) {
    const Bytes all = recording(100);
    const auto want = splitOf(all, "rec");
    for (bool rewritten : {false, true}) {
        TempDir dir;
        TempDir out;
        TempDir logs;
        std::string in = dir.write("rec.ts", all);
        pid_t followed = spawn({RIVULET_TOOL, "--follow=0", "-o", out.path(), in}, -1, logs.file("err"));
        EXPECT_TRUE(becomes(out, want, 3.0));
        ::kill(followed, SIGSTOP);
        if (rewritten) tsb::writeFile(in, recording(200, 'C'));
        else EXPECT_EQ(::truncate(in.c_str(), 188), 0);
        ::kill(followed, SIGCONT);
        EXPECT_EQ(finish(followed), 1);
        EXPECT_EQ(text(logs.file("err")), "Error: " + in + " shrank while being followed.\n");
        EXPECT_TRUE(out.outputs() == want);
    }
    EXPECT_EQ(runTool({RIVULET_TOOL, "-b", "x", "a.ts", "b.ts"}).status, 2);
    // Standard input followed from where an earlier reader left it: its second byte.
    TempDir dir;
    std::string in = dir.write("rec.ts", all);
    Outcome offset = runTool({"/bin/sh", "-c", "dd bs=1 count=1 of=/dev/null 2>/dev/null; exec \"$0\" --follow=1 -o \"$1\" -",
                              RIVULET_TOOL, dir.path()}, "exec <'" + in + "';");
    EXPECT_EQ(offset.err, "Warning: 187 bytes without packet sync skipped.\n");
    // Stopped before a packet came: no stream, said so.
    Outcome quiet = runTool({"/bin/sh", "-c", "sleep 2 | \"$0\" - & sleep 1; kill -INT $!; wait $!", RIVULET_TOOL});
    EXPECT_EQ(quiet.status, 130);
    EXPECT_EQ(quiet.err, "Error: No transport stream packets in standard input.\n");
}

// Live input held back for names: names that need no service information
// wait for none; a stop splits what was held with the names known.
TEST(LiveInput, StopsAndRewritesKeepWhatWasRead) {
    const Bytes held = recording(3000, 0);
    const Bytes bare = recording(2, 0);
    const Bytes paused(held.begin(), held.begin() + 300000);

    struct Case {
        std::vector<std::string> options;
        const Bytes& written;
        std::vector<int> signals;  // sent 0.5 s after the bytes, before the pipe closes
        std::map<std::string, std::string> names;  // of the plain split's files
        std::string err;
    };
    const Case cases[] = {
        // Within a second of the last bytes, the pipe still open.
        {{"-n", "{base} {program} {dup} {rev}"}, bare, {}, {{"stdin_1_0_0.ts", "stdin 1 0 0.ts"}, {"stdin_2_0_0.ts", "stdin 2 0 0.ts"}}, ""},
        {{"-t", "tv", "-n", "{service}"}, held, {SIGINT}, {{"stdin_1_0_0.ts", "1.ts"}, {"stdin_2_0_0.ts", "2.ts"}}, "{stop}"},
        // Stopped while a packet is half in.
        {{}, paused, {SIGINT}, {{"stdin_1_0_0.ts", "stdin_1_0_0.ts"}, {"stdin_2_0_0.ts", "stdin_2_0_0.ts"}}, "{stop}"},
        {{"-e"}, paused, {SIGTERM}, {}, "{stop}"},  // no access point: no file, and no word of it at a stop
        // A second signal may stop the split of what was held: whole packets of the same files.
        {{"-t", "tv", "-n", "{service}"}, held, {SIGINT, SIGINT}, {{"stdin_1_0_0.ts", "1.ts"}, {"stdin_2_0_0.ts", "2.ts"}}, "{prefix}"},
    };
    for (const Case& c : cases) {
        TempDir out;
        TempDir logs;
        int pipeFDs[2];
        ASSERT_EQ(::pipe2(pipeFDs, O_CLOEXEC), 0);
        // A stop ends the run with the pipe still open, whatever it holds: within a second, 10 s allowed here.
        std::vector<std::string> argv = {"/usr/bin/timeout", "--foreground", "-s", "KILL", "10", RIVULET_TOOL, "-o", out.path()};
        argv.insert(argv.end(), c.options.begin(), c.options.end());
        argv.push_back("-");
        pid_t child = spawn(argv, pipeFDs[0], logs.file("err"));
        ::close(pipeFDs[0]);
        ASSERT_EQ(::write(pipeFDs[1], c.written.data(), c.written.size()), ssize_t(c.written.size()));
        std::map<std::string, Bytes> want;
        for (const auto& [plain, named] : c.names) want[named] = splitOf(c.written, "stdin")[plain];
        if (c.signals.empty()) {
            EXPECT_TRUE(becomes(out, want, 2.0));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        for (int signal : c.signals) ::kill(child, signal);
        if (c.signals.empty()) ::close(pipeFDs[1]);
        EXPECT_EQ(finish(child), c.signals.empty() ? 0 : 128 + c.signals.back());
        if (!c.signals.empty()) ::close(pipeFDs[1]);
        std::string err = c.err == "{stop}" ? "Interrupted: outputs hold the input up to byte " +
                                                  std::to_string(c.written.size() / 188 * 188) + ".\n"
                                            : c.err;
        if (c.err == "{prefix}") {
            EXPECT_EQ(text(logs.file("err")).rfind("Interrupted: outputs hold the input up to byte ", 0), 0u) << text(logs.file("err"));
            for (const auto& [name, bytes] : out.outputs()) {
                EXPECT_EQ(bytes.size() % 188, 0u) << name;
                ASSERT_LE(bytes.size(), want[name].size()) << name;
                EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), want[name].begin())) << name;
            }
            continue;
        }
        EXPECT_EQ(text(logs.file("err")), err);
        if (!c.names.empty()) {
            EXPECT_TRUE(out.outputs() == want) << err;
        }
    }
}

// On a pipe that stays open, the list comes once its tables are in.
TEST(LiveInput, ProgramsOfAPipeThatStaysOpen) {
    TempDir dir;
    std::string in = dir.write("rec.ts", recording(30));
    Outcome o = runTool({"/bin/sh", "-c",
                         "(cat rec.ts; sleep 2; : > closed) | { \"$0\" programs -; test -e closed && echo late || echo early; }",
                         RIVULET_TS_TOOL},
                        "cd '" + dir.path() + "';");
    EXPECT_EQ(o.out, "program 1 pmt_pid 0x0100 service_type 0x01 provider \"\" name \"A\" type tv streams \"mpeg2 video\"\n"
                     "program 2 pmt_pid 0x0200 service_type 0x01 provider \"\" name \"B\" type tv streams \"h264 video\"\n"
                     "early\n");
}

