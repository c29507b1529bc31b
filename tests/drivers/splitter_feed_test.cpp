// The splitter as an engine: fed in chunks of any size, in several threads at
// once, it writes what the file split writes, byte for byte, and says the
// same. The inputs: the real captures when present, and made streams with
// junk, M2TS headers holding sync bytes and parity bytes.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <set>
#include <thread>

#include "tests/support/test.h"
#include "ts/services/service_watch.h"
#include "ts/split/splitter.h"

namespace {

struct Input {
    std::string name;
    Bytes bytes;
};

struct Split {
    Outcome outcome;
    std::map<std::string, Bytes> files;
};

Bytes madeStream() {
    tsb::Stream188 s;
    for (int i = 0; i < 30; ++i) {
        s.pat({{0, 0x10}, {1, 0x147}, {2, 0x200}});
        s.section(0x147, tsb::pmtSection(1, 0x1047, {}, {{0x02, 0x1047, {}}}));
        s.section(0x200, tsb::pmtSection(2, 0x201, {}, {{0x1B, 0x201, {}}}));
        s.es(0x1047);
        s.es(0x201);
        s.es(0x1047);
    }
    return s.bytes;
}

std::vector<Input> inputs() {
    Bytes made = madeStream();
    std::vector<Input> all = {{"made", made},
                              {"made with junk", framed(made, {}, {}, {0x47, 0x00, 0x47})},
                              {"m2ts", framed(made, {0x00, 0x47, 0x12, 0x34}, {}, {0x47, 0x47, 0x47})},
                              {"parity", framed(made, {}, Bytes(16, 0x47), {0x47})}};
    std::string samples = samplesDir();
    if (samples.empty()) return all;
    for (const auto& entry : std::filesystem::directory_iterator(samples)) {
        if (entry.path().extension() == ".ts") all.push_back({entry.path().filename(), tsb::readFile(entry.path())});
    }
    return all;
}

// A stable split of input fed to it reads ahead of itself, as the file
// split (which reads its file twice) does not: its chunkings are compared
// with its feed of all at once.
bool stableAt(size_t index) { return index % 7 == 5; }

TS_SplitOptions optionsFor(const TempDir& out, size_t index) {
    TS_SplitOptions options{};
    options.strOutputDir = out.path().c_str();
    options.u8ServiceInformation = uint8_t(index % 2);
    options.u8CleanStart = uint8_t(index % 3 == 1);
    if (index % 4 >= 2) options.u8Events = 1;  // else as a caller who never heard of it leaves it
    if (index % 5 >= 3) options.u32DropComponents = 1u << TS_COMPONENT_SUBTITLES | 1u << TS_COMPONENT_DATA;
    if (index % 5 == 4) options.strAudio = "fra,eng";
    options.u8Stable = stableAt(index);
    return options;
}

Split fileSplit(const std::string& in, size_t index) {
    TempDir out;
    TS_SplitOptions options = optionsFor(out, index);
    Outcome o = captured([&] { return TS_ProgramSplitFileWith(in.c_str(), &options); });
    return {o, out.outputs()};
}

// Chunk sizes: `fixed`, or random ones from 1 byte to 300 kB when 0.
Split fedSplit(const std::string& in, const Bytes& bytes, size_t index, size_t fixed) {
    TempDir out;
    TS_SplitOptions options = optionsFor(out, index);
    // Written by threads of its own, against the file split's single thread.
    options.u32WriterThreads = 4;
    uint32_t seed = uint32_t(index * 7919 + fixed);
    Outcome o = captured([&] {
        TS_Splitter* splitter = TS_Splitter_Open(in.c_str(), &options);
        if (!splitter) return int32_t(-100);
        for (size_t at = 0; at < bytes.size();) {
            seed = seed * 1103515245 + 12345;
            size_t chunk = fixed ? fixed : 1 + (seed >> 8) % (size_t(1) << ((seed >> 4) % 19));
            size_t take = std::min(chunk, bytes.size() - at);
            if (TS_Splitter_Feed(splitter, &bytes[at], take) != 0) break;
            at += take;
        }
        return TS_Splitter_Close(splitter);
    });
    return {o, out.outputs()};
}

// Feeds all of `bytes` at once: the first status not 0 of the feed and the close.
int32_t feedAll(const std::string& base, const TS_SplitOptions& options, const Bytes& bytes) {
    TS_Splitter* splitter = TS_Splitter_Open(base.c_str(), &options);
    if (!splitter) return -100;
    const int32_t fed = TS_Splitter_Feed(splitter, bytes.data(), bytes.size());
    const int32_t closed = TS_Splitter_Close(splitter);
    return fed ? fed : closed;
}

// The PMT sections of a split's 188-byte file, on the PMT PID of its PAT's
// last entry: rebuilt ones, each begun in a packet of its own.
std::vector<Bytes> rebuiltSections(const Bytes& file) {
    std::vector<Bytes> sections;
    if (file.size() < 188 || pidAt(file, 0) != 0) return sections;
    const size_t patLength = size_t(file[6] & 0x0F) << 8 | file[7];
    const uint16_t pmtPID = uint16_t((file[2 + patLength] & 0x1F) << 8 | file[3 + patLength]);
    Bytes pending;
    bool done = false;
    for (const Bytes& p : packetsOf(file, pmtPID)) {
        if (p[1] & 0x40) {
            pending.assign(p.begin() + 5, p.end());
            done = false;
        } else {
            tsb::append(pending, Bytes(p.begin() + 4, p.end()));
        }
        const size_t size = 3 + (size_t(pending[1] & 0x0F) << 8 | pending[2]);
        if (done || pending.size() < size) continue;
        sections.emplace_back(pending.begin(), pending.begin() + long(size));
        done = true;
    }
    return sections;
}

void expectSame(const Split& got, const Split& want, const std::string& what) {
    EXPECT_EQ(got.outcome.status, want.outcome.status) << what;
    EXPECT_EQ(got.outcome.err, want.outcome.err) << what;
    EXPECT_TRUE(got.files == want.files) << what;
}

}  // namespace

TEST(SplitterFeed, AnyChunkingGivesTheFilesOfTheFileSplit) {
    std::vector<Input> all = inputs();
    TempDir src;
    for (size_t i = 0; i < all.size(); ++i) {
        std::string in = src.write(all[i].name, all[i].bytes);
        Split want = stableAt(i) ? fedSplit(in, all[i].bytes, i, all[i].bytes.size()) : fileSplit(in, i);
        // Byte by byte on the smaller inputs: the look-ahead of every decision waits for its bytes.
        std::vector<size_t> sizes = {188, 4096, 1 << 20, 0};
        if (all[i].bytes.size() <= 300000) sizes.push_back(1);
        for (size_t chunk : sizes) expectSame(fedSplit(in, all[i].bytes, i, chunk), want, all[i].name + " in chunks of " + std::to_string(chunk));
    }
}

// Splitters in threads, each with its own progress and stop: stopping one
// leaves the other whole, and each hears only of its own input.
TEST(SplitterFeed, EachSplitterHasItsOwnProgressAndStop) {
    Bytes stream;
    for (int i = 0; i < 120; ++i) tsb::append(stream, madeStream());  // 4 MB: several blocks
    TempDir dir;
    std::string in = dir.write("in.ts", stream);
    struct Run {
        std::atomic<int32_t> stop{0};
        std::vector<uint64_t> progress;
        int32_t status = 1;
        std::pair<int32_t, int32_t> fed;  // FeedFrom's status, then Settle's
    } runs[2];
    runs[0].stop = 1;
    auto split = [&](Run& run, const std::string& base) {
        TS_SplitOptions options{};
        options.pfProgress = [](uint64_t done, uint64_t, void* user) { static_cast<Run*>(user)->progress.push_back(done); };
        options.pProgressUser = &run;
        options.pStop = &run.stop;
        TS_Splitter* splitter = TS_Splitter_Open(dir.file(base).c_str(), &options);
        int fd = ::open(in.c_str(), O_RDONLY);
        run.fed.first = TS_Splitter_FeedFrom(splitter, fd);
        run.fed.second = TS_Splitter_Settle(splitter);
        ::close(fd);
        run.status = TS_Splitter_Close(splitter);
    };
    Outcome o = captured([&] {
        std::thread stopped(split, std::ref(runs[0]), "stopped");
        std::thread whole(split, std::ref(runs[1]), "whole");
        stopped.join();
        whole.join();
        return 0;
    });
    EXPECT_EQ(runs[0].status, TS_ERR_INTERRUPTED);
    EXPECT_EQ(runs[1].status, 0);
    EXPECT_EQ(runs[0].fed, std::pair(TS_ERR_INTERRUPTED, TS_ERR_INTERRUPTED));
    EXPECT_EQ(runs[1].fed, std::pair(0, 0));
    // Stopped before its first packet, with a block read: not "no packets".
    EXPECT_EQ(o.err, "Interrupted: outputs hold the input up to byte 0.\n");
    EXPECT_TRUE(runs[0].progress.empty());
    ASSERT_GE(runs[1].progress.size(), 3u);
    EXPECT_EQ(runs[1].progress.back(), stream.size());
    EXPECT_EQ(tsb::readFile(dir.file("stopped_1_0_0.ts")).size(), 0u);
    EXPECT_EQ(tsb::readFile(dir.file("whole_1_0_0.ts")).size(), 188u * 4 * 30 * 120);  // PAT, PMT, 2 of video a round
}

// What a call took is in the files when it returns, as whole packets,
// whether the caller's thread writes them or threads of the splitter's own.
TEST(SplitterFeed, WhatACallTookIsInTheFilesWhenItReturns) {
    const Bytes stream = madeStream();
    for (uint32_t threads : {0u, 2u}) {
        TempDir dir;
        TS_SplitOptions options{};
        options.u32WriterThreads = threads;
        TS_Splitter* splitter = TS_Splitter_Open(dir.file("in.ts").c_str(), &options);
        ASSERT_NE(splitter, nullptr);
        // The packets whose place the bytes so far decide: all but the last few.
        EXPECT_EQ(TS_Splitter_Feed(splitter, stream.data(), stream.size()), 0);
        const size_t fed = tsb::readFile(dir.file("in_1_0_0.ts")).size();
        EXPECT_GT(fed, 188u * 4 * 25) << threads;
        EXPECT_EQ(fed % 188, 0u) << threads;
        // Settled: every packet, 30 rounds of PAT, PMT and two ES packets.
        EXPECT_EQ(TS_Splitter_Settle(splitter), 0);
        EXPECT_EQ(tsb::readFile(dir.file("in_1_0_0.ts")).size(), 188u * 4 * 30) << threads;
        EXPECT_EQ(TS_Splitter_Close(splitter), 0);
    }
}

// While it lives, a file of this process grows to `bytes` at most: a write
// past it fails (EFBIG) rather than stopping the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_before);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_before;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_before);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_before;
    void (*m_handler)(int);
};

// A write that fails is the status of the call that made it and of every
// call after, the close's too; the file keeps the whole packets written
// before, and the message names it.
TEST(SplitterFeed, AFailedWriteIsTheRunsStatusFromThenOn) {
    const Bytes stream = madeStream();
    TempDir whole;
    ASSERT_EQ(TS_ProgramSplitFile(whole.write("in.ts", stream).c_str()), 0);
    for (uint32_t threads : {0u, 2u}) {
        for (bool report : {false, true}) {
            SCOPED_TRACE(std::to_string(threads) + (report ? " with report" : ""));
            TempDir dir;
            TS_SplitOptions options{};
            options.u32WriterThreads = threads;
            TS_SplitFileList list{};
            int32_t fed = 0;
            int32_t after = 0;
            Outcome o = captured([&] {
                TS_Splitter* splitter = TS_Splitter_Open(dir.file("in.ts").c_str(), &options);
                if (!splitter) return -100;
                if (report) TS_Splitter_SetFileList(splitter, &list);
                FileSizeLimit limit(188 * 10 + 100);
                fed = TS_Splitter_Feed(splitter, stream.data(), stream.size());
                after = TS_Splitter_Feed(splitter, stream.data(), 188);
                return TS_Splitter_Close(splitter);
            });
            EXPECT_EQ(fed, TS_ERR_WRITE);
            EXPECT_EQ(after, TS_ERR_WRITE);
            EXPECT_EQ(o.status, TS_ERR_WRITE);
            EXPECT_EQ(o.err.rfind("Error: Failed write " + dir.path() + "/in_", 0), 0u) << o.err;
            for (const char* name : {"in_1_0_0.ts", "in_2_0_0.ts"}) {
                const Bytes expected = tsb::readFile(whole.file(name));
                const Bytes written = tsb::readFile(dir.file(name));
                EXPECT_EQ(written.size(), 188u * 10) << name;
                EXPECT_TRUE(std::equal(written.begin(), written.end(), expected.begin())) << name;
            }
            TS_SplitFileList_Release(&list);
        }
    }
}

// Each entry of the PAT has a file of its own, kept as the PAT takes new
// versions: a program listed twice has two; a new first entry is as any other.
TEST(SplitterFeed, EachEntryOfThePATKeepsAFileOfItsOwn) {
    const struct {
        const char* what;
        std::vector<uint8_t> versions;
        std::vector<tsb::Program> listed;  // the first version's; later ones list program 3 first
        std::vector<std::string> files;
    } cases[] = {
        {"a program listed twice", {0}, {{1, 0x100}, {2, 0x200}, {1, 0x400}}, {"in_1_0_0.ts", "in_1_1_0.ts", "in_2_0_0.ts"}},
        {"a new first entry", {0, 1, 2}, {{1, 0x100}, {2, 0x200}}, {"in_1_0_0.ts", "in_2_0_0.ts", "in_3_0_0.ts"}},
    };
    for (const auto& c : cases) {
        tsb::Stream188 s;
        for (uint8_t version : c.versions) {
            std::vector<tsb::Program> listed = c.listed;
            if (version > 0) listed.insert(listed.begin(), {3, 0x300});
            s.pat(listed, version);
            for (const tsb::Program& p : listed) {
                const uint16_t audio = uint16_t(p.pid + 1);
                s.section(p.pid, tsb::pmtSection(p.number, audio, {}, {{0x03, audio, {}}}));
                s.es(audio);
            }
        }
        TempDir dir;
        EXPECT_EQ(feedAll(dir.file("in.ts"), TS_SplitOptions{}, s.bytes), 0) << c.what;
        std::vector<std::string> names;
        for (const auto& [name, bytes] : dir.outputs()) names.push_back(name);
        EXPECT_EQ(names, c.files) << c.what;
    }
}

// A regular file cut short while it is read is an error, not a whole input;
// the files hold whole packets up to where it was read.
TEST(SplitterFeed, AFileThatShrinksWhileReadIsAnError) {
    Bytes stream;
    for (int i = 0; i < 120; ++i) tsb::append(stream, madeStream());  // 4 MB: several blocks
    TempDir dir;
    std::string in = dir.write("in.ts", stream);
    TS_SplitOptions options{};
    options.u32WriterThreads = 2;
    // After the first block read: the rest of the file is gone.
    options.pfProgress = [](uint64_t, uint64_t, void* path) { ::truncate(static_cast<std::string*>(path)->c_str(), 100000); };
    options.pProgressUser = &in;
    int32_t fed = 0;
    Outcome o = captured([&] {
        TS_Splitter* splitter = TS_Splitter_Open(in.c_str(), &options);
        int fd = ::open(in.c_str(), O_RDONLY);
        fed = TS_Splitter_FeedFrom(splitter, fd);
        ::close(fd);
        return TS_Splitter_Close(splitter);
    });
    EXPECT_EQ(fed, TS_ERR_READ);
    EXPECT_EQ(o.status, TS_ERR_READ);
    EXPECT_EQ(o.err, "Error: " + in + " shrank while being read.\n");
    const uint64_t file = tsb::readFile(dir.file("in_1_0_0.ts")).size();
    EXPECT_GT(file, 100000u);
    EXPECT_EQ(file % 188, 0u);
}

// With standard input closed, the first file a library run opens takes
// descriptor 0: a file like any other, written, read and closed.
TEST(SplitterFeed, AFileOnDescriptorZeroIsWrittenAndRead) {
    TempDir dir;
    const Bytes stream =
        streamOf({{0, tsb::patSection(1, 0, {{1, 0x100}})}, {0x100, tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}})}, {0x101}}).bytes;
    const std::string base = dir.file("in.ts");
    const std::string file = dir.file("in_1_0_0.ts");
    auto run = [&] {
        TS_SplitOptions options{};
        bool ok = feedAll(base, options, stream) == 0;
        static TS_CheckResult checked;
        static TS_PMTSplitData survey;
        TS_ExtractOptions byNumber{1, 1, 0, 0};
        TS_ServiceWatch* watch = TS_ServiceWatch_Open();
        const char* in = file.c_str();
        ok = ok && TS_Print(in, 0) == 0 && TS_CheckStream(&checked, in, nullptr, nullptr) == 0 &&
             TS_ListEvents(in, [](void*, const TS_AnnouncedEvent*) {}, nullptr) == 0 && TS_ProgramSplitFile(in) == 0 &&
             TS_CheckPMTSplit(&survey, in) == 0 && TS_PMTSplitFile(in, 1, 0, nullptr) == 0 &&
             TS_ExtractProgram(dir.file("x.ts").c_str(), in, &byNumber) == 0 && TS_ServiceWatch_ReadInput(watch, in, 0, 0) == 0;
        ok = ok && TS_ProgramSplitStream(in, in, 0x100) == TS_ERR_OPEN_OUTPUT;  // the input as its own output: refused
        TS_ServiceWatch_Close(watch);
        return ok && tsb::readFile(file).size() == 3 * 188 && ::fcntl(STDIN_FILENO, F_GETFD) == -1;  // and closed again
    };
    EXPECT_EXIT(::close(STDIN_FILENO); std::_Exit(run() ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

// A pipe that brings its bytes one at a time: every byte counts, and the
// files are those of the file split.
TEST(SplitterFeed, APipeReadAByteAtATimeGivesTheFilesOfTheFileSplit) {
    const Bytes stream = madeStream();
    const Bytes head(stream.begin(), stream.begin() + 188 * 8);
    TempDir whole;
    ASSERT_EQ(TS_ProgramSplitFile(whole.write("in.ts", head).c_str()), 0);
    TempDir dir;
    TS_SplitOptions options{};
    TS_Splitter* splitter = TS_Splitter_Open(dir.file("in.ts").c_str(), &options);
    ASSERT_NE(splitter, nullptr);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer([&] {
        for (uint8_t byte : head) {
            EXPECT_EQ(::write(fds[1], &byte, 1), 1);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        ::close(fds[1]);
    });
    EXPECT_EQ(TS_Splitter_FeedFrom(splitter, fds[0]), 0);
    writer.join();
    ::close(fds[0]);
    EXPECT_EQ(TS_Splitter_Close(splitter), 0);
    auto files = whole.outputs();
    files.erase("in.ts");
    EXPECT_TRUE(dir.outputs() == files);
}

// Every status a function returns has words, each its own within its family.
TEST(Status, EveryCodeHasWordsOfItsFamily) {
    const std::map<uint8_t, std::vector<int32_t>> codes = {
        {TS_STATUS_DRIVER, {0, -1, -2, -3, -5, -6, -7, -8, -9, -10, -11, -12, -13}},
        {TS_STATUS_PMT_CHANGE, {-3, -4}},
        {TS_STATUS_REASSEMBLY, {1, -2, -3, -4, -5, -6}},
        {TS_STATUS_PARSER, {-2}},
        {TS_STATUS_VERIFY, {-2, -3, -4}},
    };
    for (const auto& [family, statuses] : codes) {
        std::set<std::string> words;
        for (int32_t status : statuses) {
            std::string text = TS_StatusTextOf(family, status);
            EXPECT_NE(text, "unknown status") << int(family) << " " << status;
            words.insert(text);
        }
        EXPECT_EQ(words.size(), statuses.size()) << int(family);
    }
    EXPECT_STREQ(TS_StatusText(TS_ERR_NO_PACKETS), "no transport stream packets in the input");
    EXPECT_STREQ(TS_StatusTextOf(TS_STATUS_VERIFY, TS_ERR_CRC), "CRC_32 mismatch");
    EXPECT_STREQ(TS_StatusTextOf(TS_STATUS_REASSEMBLY, -3), "continuity counter out of step");  // the value callers compare
    EXPECT_STREQ(TS_StatusTextOf(TS_STATUS_PARSER, -2), "no sync byte, no adaptation field, another descriptor tag, or too many PAT entries");
    std::set<std::string> minusTwo;  // -2 means four things, in the families that give it a meaning of their own
    for (const auto& [family, statuses] : codes) minusTwo.insert(TS_StatusTextOf(family, -2));
    EXPECT_EQ(minusTwo.size(), 4u);
    EXPECT_STREQ(TS_StatusText(-14), "unknown status");
}

int32_t nameEveryFileA(void*, const TS_OutputNameRequest*, char* name, uint32_t size) {
    return std::snprintf(name, size, "a") > 0 ? 0 : -1;
}

TEST(SplitRun, HoldsWhatItProtectsByAnyPath) {
    TempDir dir;
    std::string input = dir.write("a.ts", {0x47});
    std::string other = dir.write("b.ts", {0x47});
    TS_SplitRun* run = TS_SplitRun_Open();
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(TS_SplitRun_ProtectInput(run, input.c_str()), 0);
    EXPECT_EQ(TS_SplitRun_ProtectInput(run, dir.path().c_str()), 0);
    EXPECT_EQ(TS_SplitRun_Holds(run, (dir.path() + "/./a.ts").c_str()), 1);
    EXPECT_EQ(TS_SplitRun_Holds(run, other.c_str()), 0);
    EXPECT_EQ(TS_SplitRun_Holds(run, dir.path().c_str()), 0);
    TS_SplitRun_Close(run);
    // A splitter fed the bytes of the file its base path names never writes
    // over it, whatever its namer says; the caller learns how many files it made.
    TS_SplitOptions options{};
    options.pfNamer = nameEveryFileA;
    uint32_t files = 9;
    options.pFileCount = &files;
    EXPECT_EQ(feedAll(input, options, tsb::psiPacket(0, 0, tsb::patSection(1, 0, {{1, 0x100}}))), 0);
    EXPECT_EQ(tsb::readFile(input), Bytes{0x47});
    EXPECT_EQ(files, 1u);
}

// The file split leaves its table, its last PAT, its stem and the path it
// formed last in the globals its first callers read; an input of no program
// leaves them empty.
TEST(FileSplit, LeavesItsTableAndNamesInTheHistoricalGlobals) {
    TempDir dir;
    std::string in = dir.write("in.ts", tsb::psiPacket(0, 0, tsb::patSection(1, 0, {{1, 0x100}, {2, 0x200}})));
    std::string none = dir.write("none.ts", Bytes(188 * 3, 0x47));
    ASSERT_EQ(TS_ProgramSplitFile(in.c_str()), 0);
    EXPECT_STREQ(g_strString1, dir.file("in").c_str());
    EXPECT_STREQ(g_strString2, dir.file("in_2_0_0.ts").c_str());
    ASSERT_EQ(g_tPNSplitData.u16Count, 2);
    EXPECT_EQ(g_tPNSplitData.ltEntry[1].u16ProgramNumber, 2);
    EXPECT_EQ(g_tPNSplitData.ltEntry[1].u16PMTPID, 0x200);
    EXPECT_EQ(g_tData.tPAT.program_count, 2);
    for (int i : {0, 1}) EXPECT_EQ(g_tPNSplitData.ltEntry[i].nFD, -1) << i;  // closed
    captured([&] { return TS_ProgramSplitFile(none.c_str()); });
    EXPECT_STREQ(g_strString2, "");
    EXPECT_EQ(g_tPNSplitData.u16Count, 0);
}

namespace {

// `count` programs in a PAT of sections of 250, each its PMT and a packet;
// then, with `leaving`, a PAT without that program, and one with it again,
// each followed by a packet of every program.
Bytes multiplexOf(uint16_t count, uint16_t leaving = 0) {
    tsb::Stream188 s;
    const uint8_t last = uint8_t((count - 1) / 250);
    auto pat = [&](uint8_t version, uint16_t without) {
        for (uint8_t n = 0; n <= last; ++n) {
            std::vector<tsb::Program> programs;
            for (uint16_t p = uint16_t(n * 250 + 1); p <= std::min<int>(count, (n + 1) * 250); ++p) {
                if (p != without) programs.push_back({p, uint16_t(0x100 + p)});
            }
            s.section(0, tsb::numbered(tsb::patSection(1, version, programs), n, last));
        }
    };
    pat(0, 0);
    for (uint16_t p = 1; p <= count; ++p) {
        s.section(uint16_t(0x100 + p), tsb::pmtSection(p, 0x1FFF, {}, {{0x1B, uint16_t(0x1000 + p), {}}}));
        s.es(uint16_t(0x1000 + p));
    }
    for (uint8_t version = 1; leaving && version <= 2; ++version) {
        pat(version, version == 1 ? leaving : 0);
        for (uint16_t p = 1; p <= count; ++p) s.es(uint16_t(0x1000 + p));
    }
    return s.bytes;
}

}  // namespace

// However many programs the PAT lists, in however many sections, each gets
// its file, byte for byte the one a split of that program alone gives; one
// that leaves the PAT and returns, a second.
TEST(SplitterFeed, AThousandProgramsGiveAThousandFilesEachAsItsOwnSplitGivesIt) {
    const Bytes input = multiplexOf(1000, 127);
    TempDir whole;
    TempDir alone;
    TS_SplitOptions every{};
    every.strOutputDir = whole.path().c_str();
    Outcome all = captured([&] { return feedAll("in.ts", every, input); });
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.err, "");
    for (uint16_t p = 1; p <= 1000; ++p) {
        TS_SplitOptions one{};
        one.strOutputDir = alone.path().c_str();
        one.lu16Programs = &p;
        one.u32ProgramCount = 1;
        ASSERT_EQ(feedAll("in.ts", one, input), 0) << p;
    }
    std::map<std::string, Bytes> files = whole.outputs();
    EXPECT_EQ(files.size(), 1001u);
    EXPECT_EQ(files.count("in_127_0_1.ts"), 1u);
    EXPECT_TRUE(files == alone.outputs());
    // The last program's file by hand, up to the second PAT: its PAT with the
    // counter of the packet that completed the input's (four sections of six
    // packets: the 24th, counter 7), its PMT, its stream.
    uint8_t pmtCounter = 0;
    uint8_t esCounter = 0;
    Bytes last = tsb::psiPacket(0, 7, tsb::patSection(1, 0, {{1000, 0x4E8}}));
    tsb::append(last, tsb::packetize(0x4E8, tsb::pmtSection(1000, 0x1FFF, {}, {{0x1B, 0x13E8, {}}}), pmtCounter)[0]);
    tsb::append(last, tsb::esPacket(0x13E8, esCounter));
    const Bytes& lastFile = files["in_1000_0_0.ts"];
    ASSERT_GE(lastFile.size(), last.size());
    EXPECT_EQ(tsb::hex(Bytes(lastFile.begin(), lastFile.begin() + long(last.size()))), tsb::hex(last));
    // A watch follows the first 256 of them.
    TS_ServiceWatch* watch = TS_ServiceWatch_Open();
    EXPECT_EQ(captured([&] { return TS_ServiceWatch_Feed(watch, input.data(), input.size()); }).status, 0);
    TS_ServiceFacts facts;
    EXPECT_EQ(TS_ServiceWatch_Facts(watch, 256, UINT64_MAX, &facts), 0);
    EXPECT_EQ(TS_ServiceWatch_Facts(watch, 257, UINT64_MAX, &facts), -1);
    TS_ServiceWatch_Close(watch);
}

// A splitter given a sink hands it every message, whole and with its level,
// and prints nothing; OpenWithStatus says why a splitter cannot be had.
TEST(SplitterFeed, SinkTakesEveryMessage) {
    using Told = std::vector<std::pair<int32_t, std::string>>;
    const Bytes made = madeStream();
    Bytes unsynced(5, 0x00);
    tsb::append(unsynced, made);
    tsb::Stream188 second;  // program 2 alone
    second.pat({{2, 0x200}});
    const std::string far(9000, 'f');  // a folder whose message is longer than a sink takes
    const std::string farText = "Error: Failed open {in}/" + far + ".\n  the output folder: No such file or directory\n";
    // Languages whose message fills the 8192 bytes the text is formatted in, and one less.
    const std::string filling(8122, 'e');
    const std::string filled = "Error: audio languages \"" + filling + "\" are neither \"first\" nor three-letter codes.\n";
    const std::string fitting = filling.substr(1);
    const std::string fitted = "Error: audio languages \"" + fitting + "\" are neither \"first\" nor three-letter codes.\n";
    struct Case {
        const char* what;
        const Bytes& input;
        uint16_t program;     // the only one asked for; 0: every one
        const char* blocker;  // a folder in the way of an output
        const char* folder;   // the output folder, in the temporary one
        const char* audio;
        int32_t status;
        int32_t level;
        const char* text;     // {in}: the temporary folder
    };
    const Case cases[] = {
        {"missing program", second.bytes, 1, nullptr, nullptr, nullptr, TS_ERR_NO_PROGRAM, TS_LOG_ERROR,
         "Error: no program 1 in {in}/news.\n"},
        {"sync loss", unsynced, 0, nullptr, nullptr, nullptr, 0, 1,  // TS_LOG_WARNING, as callers built before compare it
         "Warning: 5 bytes without packet sync skipped.\n"},
        {"file refused", made, 0, "news_1_0_0.ts", nullptr, nullptr, TS_ERR_OPEN_OUTPUT, TS_LOG_ERROR,
         "Error: Failed open {in}/news_1_0_0.ts.\n"},
        {"missing folder", made, 0, nullptr, "missing", nullptr, TS_ERR_OPEN_OUTPUT, TS_LOG_ERROR,
         "Error: Failed open {in}/missing.\n  the output folder: No such file or directory\n"},
        {"long message", made, 0, nullptr, far.c_str(), nullptr, TS_ERR_OPEN_OUTPUT, TS_LOG_ERROR, farText.c_str()},
        {"audio languages", made, 0, nullptr, nullptr, "english", TS_ERR_BAD_OPTION, TS_LOG_ERROR,
         "Error: audio languages \"english\" are neither \"first\" nor three-letter codes.\n"},
        {"a message of 8192 bytes", made, 0, nullptr, nullptr, filling.c_str(), TS_ERR_BAD_OPTION, TS_LOG_ERROR, filled.c_str()},
        {"a message of 8191 bytes", made, 0, nullptr, nullptr, fitting.c_str(), TS_ERR_BAD_OPTION, TS_LOG_ERROR, fitted.c_str()},
    };
    for (const Case& c : cases) {
        TempDir dir;
        Told told;
        const std::string folder = c.folder ? dir.file(c.folder) : "";
        TS_SplitOptions options{};
        options.lu16Programs = &c.program;
        options.u32ProgramCount = c.program != 0;
        options.strOutputDir = c.folder ? folder.c_str() : nullptr;
        options.strAudio = c.audio;
        options.pfLog = [](void* user, int32_t level, const char* text) {
            static_cast<Told*>(user)->emplace_back(level, text);
        };
        options.pLogUser = &told;
        if (c.blocker) std::filesystem::create_directory(dir.file(c.blocker));
        Outcome o = captured([&] {
            int32_t status = 1;
            TS_Splitter* splitter = TS_Splitter_OpenWithStatus(dir.file("news").c_str(), &options, &status);
            if (!splitter) return status;
            TS_Splitter_Feed(splitter, c.input.data(), c.input.size());
            return TS_Splitter_Close(splitter);
        });
        EXPECT_EQ(o.status, c.status) << c.what;
        EXPECT_EQ(o.err, "") << c.what;
        // A message longer than a sink takes (TS_LOG_TEXT_MAX, 8191 for callers
        // built against it) is cut, its last byte a newline.
        std::string text = withInput(c.text, dir.path());
        if (text.size() > 8191) text = text.substr(0, 8190) + "\n";
        EXPECT_EQ(told, (Told{{c.level, text}})) << c.what;
    }
}

// One run reassembles each table once: the split with service information,
// events and a report, and a watch on its tables, which gathers none itself.
TEST(SplitterFeed, EachSectionIsReassembledOnceForEveryReaderOfTheRun) {
    tsb::Stream188 s;
    for (uint8_t version = 0; version < 3; ++version) {
        s.pat({{1, 0x100}});
        s.section(0x100, tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}}));
        s.section(0x11, sdtSection({{1, "One"}}));
        s.section(0x12, tsb::presentEventSection(1, version, 7));
        s.es(0x101);
    }
    TempDir out;
    TS_SplitOptions options{};
    options.strOutputDir = out.path().c_str();
    options.u8ServiceInformation = 1;
    options.u8Events = 1;
    TS_Splitter* splitter = TS_Splitter_Open("in.ts", &options);
    TS_ServiceWatch* watch = TS_ServiceWatch_Open();
    TS_SplitFileList list{};
    ASSERT_EQ(TS_Splitter_SetFileList(splitter, &list), 0);
    ASSERT_EQ(TS_Splitter_Watch(splitter, watch, 0, nullptr, nullptr), 0);
    EXPECT_EQ(TS_Splitter_Feed(splitter, s.bytes.data(), s.bytes.size()), 0);
    EXPECT_EQ(TS_Splitter_Settle(splitter), 0);
    const rivulet::TableDecoder& tables = rivulet::splitterTables(splitter);
    for (rivulet::TableKind kind : {rivulet::TableKind::SDTActual, rivulet::TableKind::EITPresentFollowing}) {
        EXPECT_EQ(rivulet::tableDecoderReassembled(tables, kind), 3u);
        EXPECT_EQ(rivulet::tableDecoderReassembled(*watch->pDecoder, kind), 0u);
    }
    TS_ServiceFacts facts;
    ASSERT_EQ(TS_ServiceWatch_Facts(watch, 1, UINT64_MAX, &facts), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(facts.lu8Name), facts.u8NameLength), "One");
    captured([&] { return TS_Splitter_Close(splitter); });
    TS_ServiceWatch_Close(watch);
    TS_SplitFileList_Release(&list);
}

// Event 0 is an event like any other: the list tells it, cut where its file
// begins, and no row of a file without event.
TEST(SplitterFeed, TheEventListTellsEventZeroAsAnEvent) {
    const Bytes start = tsb::packetEndingWith({.pid = 0x101, .pusi = true, .payload = {0, 0, 1, 0xE0, 0, 0, 0x80, 0, 0}}, 0x40);
    const tsb::Stream188 s = streamOf({{0x12, tsb::presentEventSection(1, 0, 0)}, {0, tsb::patSection(1, 0, {{1, 0x100}})},
                                       {0x100, tsb::pmtSection(1, 0x101, {}, {{0x1B, 0x101, {}}})}, {kWhole, start}});
    TempDir dir;
    std::vector<TS_AnnouncedEvent> rows;
    auto collect = [](void* user, const TS_AnnouncedEvent* row) { static_cast<std::vector<TS_AnnouncedEvent>*>(user)->push_back(*row); };
    ASSERT_EQ(TS_ListEvents(dir.write("in.ts", s.bytes).c_str(), collect, &rows), 0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].u8Cut, 1);
    // 257 programs announced, none cut: the 257th tells the oldest first.
    tsb::Stream188 many;
    for (uint16_t p = 1; p <= 257; ++p) many.section(0x12, tsb::presentEventSection(p, 0, 1));
    rows.clear();
    captured([&] { return TS_ListEvents(dir.write("many.ts", many.bytes).c_str(), collect, &rows); });
    ASSERT_EQ(rows.size(), 257u);
    EXPECT_EQ(rows[0].u16ProgramNumber, 1);
}

// A stable split: every PMT of the file lists the three streams its program
// lists at one time or another, in the order first listed, each section
// with its own version. Shapes gathered from the file first list the third
// from the start, as does a split of live input (no shapes) when it is
// announced within 10 s of the clock (across its wrap) or, without a clock,
// 64 MiB; announced later, it joins at the PMT that announces it, said with
// that packet's offset.
TEST(SplitterFeed, AStableSplitListsEveryStreamOfTheFileInEveryPMT) {
    const std::vector<tsb::Stream> two = {{0x02, 0x101, {}}, {0x03, 0x102, tsb::descriptor(0x0A, {'e', 'n', 'g', 0})}};
    std::vector<tsb::Stream> three = two;
    three.insert(three.begin() + 1, {0x03, 0x103, tsb::descriptor(0x0A, {'f', 'r', 'a', 0})});
    const std::vector<tsb::Stream> listed = {two[0], two[1], three[1]};  // 0x103 comes last: it was listed last
    constexpr uint64_t kSecond = 90000;
    constexpr uint64_t kNoClock = UINT64_MAX;
    const struct {
        bool gathered;
        uint64_t clock;    // the first PCR's base, or kNoClock
        uint64_t later;    // how much later the third is announced: PCR base ticks, or packets without a clock
        bool late;         // it joins the shape then
    } cases[] = {{true, 0, 11 * kSecond, false},
                 {false, 0, 10 * kSecond, false},
                 {false, 0, 11 * kSecond, true},
                 {false, 0x1FFFFFFFF - 4 * kSecond, 9 * kSecond, false},
                 {false, 0x123456789, 11 * kSecond, true},
                 {false, kNoClock, (2u << 20) / 188, false},
                 {false, kNoClock, (66u << 20) / 188, true}};
    for (const auto& c : cases) {
        tsb::Stream188 s;
        size_t announced = 0;
        for (uint8_t i = 0; i < 6; ++i) {
            s.pat({{1, 0x100}});
            if (i == 3 && c.clock != kNoClock) s.add(pcrPacket(0x101, (c.clock + c.later) & 0x1FFFFFFFF));
            for (uint64_t k = 0; i == 3 && c.clock == kNoClock && k < c.later; ++k) {
                s.es(0x102);
            }
            const size_t at = s.section(0x100, tsb::pmtSection(1, 0x101, {}, i < 3 ? two : three, i < 3 ? 0 : 1));
            for (int k = 0; i == 0 && k < 40; ++k) {
                s.es(0x102);  // what the walk needs to start, ahead of the clock
            }
            if (i == 0 && c.clock != kNoClock) s.add(pcrPacket(0x101, c.clock));
            if (i == 3) announced = at;
            for (uint16_t pid : {0x101, 0x102, 0x103}) s.es(pid);
        }
        TempDir dir;
        const std::string in = dir.write("in.ts", s.bytes);
        std::string log;
        TS_SplitOptions options{};
        options.u8Stable = 1;
        options.pfLog = [](void* user, int32_t, const char* text) { *static_cast<std::string*>(user) += text; };
        options.pLogUser = &log;
        options.pStreamShapes = c.gathered ? TS_StreamShapes_Gather(in.c_str(), &options, nullptr) : nullptr;
        ASSERT_EQ(options.pStreamShapes != nullptr, c.gathered);
        EXPECT_TRUE(dir.outputs().empty()) << "the first pass writes nothing";
        ASSERT_EQ(feedAll(dir.file("out"), options, s.bytes), 0);
        TS_StreamShapes_Free(options.pStreamShapes);
        const std::vector<Bytes> pmts = packetsOf(tsb::readFile(dir.file("out_1_0_0.ts")), 0x100);
        ASSERT_EQ(pmts.size(), 6u);
        for (uint8_t i = 0; i < 6; ++i) {
            const std::vector<tsb::Stream>& streams = !c.late || i >= 3 ? listed : two;
            EXPECT_EQ(tsb::hex(pmts[i]), tsb::hex(tsb::psiPacket(0x100, i, tsb::pmtSection(1, 0x101, {}, streams, i < 3 ? 0 : 1))))
                << c.gathered << " " << c.clock << " " << int(i);
        }
        EXPECT_EQ(log, !c.late ? "" : "Warning: program 1 gains stream 0x0103 at byte " + std::to_string(announced * 188) +
                                          "; its file's shape changes there.\n");
    }
    // Standard input and a FIFO are never read twice, nor even opened to be looked at.
    TempDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& input : {std::string("-"), fifo}) {
        TS_SplitOptions options{};
        options.u8Stable = 1;
        int32_t status = -1;
        EXPECT_EQ(TS_StreamShapes_Gather(input.c_str(), &options, &status), nullptr) << input;
        EXPECT_EQ(status, 0) << input;
    }
}

// On the captures, cut at events and cleanly started, data left out: every
// PMT section of a stable file is the same but for its version and CRC_32,
// and its CRC_32 is right.
TEST(SplitterFeed, EveryPMTOfAStableFileIsTheSameShape) {
    if (samplesDir().empty()) GTEST_SKIP() << "no captures";
    std::vector<Input> all = inputs();
    TempDir src;
    size_t sections = 0;
    for (const Input& input : all) {
        TempDir out;
        TS_SplitOptions options{};
        options.strOutputDir = out.path().c_str();
        options.u8Stable = 1;
        options.u8Events = 1;
        options.u32DropComponents = 1u << TS_COMPONENT_DATA;
        options.pfLog = [](void*, int32_t, const char*) {};
        TS_ProgramSplitFileWith(src.write(input.name, input.bytes).c_str(), &options);
        for (const auto& [name, file] : out.outputs()) {
            if (name.ends_with(".m2ts")) continue;
            const std::vector<Bytes> pmts = rebuiltSections(file);
            sections += pmts.size();
            for (const Bytes& section : pmts) {
                EXPECT_EQ(tsb::crc32(section.data(), section.size()), 0u) << name;
                Bytes shape = section;
                shape[5] = pmts.front()[5];
                shape.resize(section.size() - 4);
                EXPECT_EQ(tsb::hex(shape), tsb::hex(Bytes(pmts.front().begin(), pmts.front().end() - 4))) << name;
            }
        }
    }
    EXPECT_GT(sections, 200u);
}
