// Helpers of the hostile-input tests: a temporary folder per test, every
// driver behind one call shape, the splitter through the tool, a writer that
// feeds a FIFO without ever blocking for good, and a child process that runs
// a driver under a file size limit.
#ifndef RIVULET_TESTS_HOSTILE_SUPPORT_H
#define RIVULET_TESTS_HOSTILE_SUPPORT_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "rivulet/ts.h"
#include "tests/support/capture.h"
#include "tests/support/run_tool.h"
#include "tests/support/stream_builder.h"

namespace hostile {

using tsb::Bytes;

class TempDir {
public:
    TempDir() : path_(tsb::makeTempDir("hostile")) {}
    ~TempDir() { tsb::removeTree(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes `bytes` as `name` and returns its path.
    std::string write(const std::string& name, const Bytes& bytes) const {
        tsb::writeFile(file(name), bytes);
        return file(name);
    }
    // The names in the folder other than `except`.
    std::vector<std::string> outputs(const std::string& except = "in.ts") const {
        std::vector<std::string> names;
        for (const std::string& n : tsb::listDir(path_)) {
            if (n != except) names.push_back(n);
        }
        return names;
    }

private:
    std::string path_;
};

// FNV-1a over a file's bytes: enough to see that a file was not touched.
inline uint64_t checksum(const std::string& path) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (uint8_t b : tsb::readFile(path)) h = (h ^ b) * 0x100000001B3ull;
    return h;
}

struct Outcome {
    int32_t status = 0;
    std::string out;  // standard output (the dump)
    std::string err;  // standard error
};

// Runs `body` with both standard streams captured.
inline Outcome captured(const std::function<int32_t()>& body) {
    Outcome o;
    o.err = tsb::captureStderr([&] { o.out = tsb::captureStdout([&] { o.status = body(); }); });
    return o;
}

constexpr uint32_t kEveryPrintFlag = TS_PRINT_PACKET | TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT |
                                     TS_PRINT_PRIVATE | TS_PRINT_EMM | TS_PRINT_ES | TS_PRINT_PIDLIST |
                                     TS_PRINT_PCR;

// One driver of the toolkit, called on `input` with its outputs in `dir`.
struct Driver {
    const char* name;
    std::function<int32_t(const std::string& input, const std::string& dir)> run;
};

constexpr uint16_t kExtractedPMTPID = 0x0100;  // program 1 of the sample streams

inline std::vector<Driver> everyDriver(uint16_t extractedPMTPID = kExtractedPMTPID) {
    return {
        {"TS_Print", [](const std::string& in, const std::string&) { return TS_Print(in.c_str(), kEveryPrintFlag); }},
        {"TS_GetProgramList",
         [](const std::string& in, const std::string&) {
             static TS_ProgramList list;
             return TS_GetProgramList(&list, in.c_str());
         }},
        {"TS_ProgramSplitStream",
         [extractedPMTPID](const std::string& in, const std::string& dir) {
             return TS_ProgramSplitStream((dir + "/extract.ts").c_str(), in.c_str(), extractedPMTPID);
         }},
        {"TS_CheckPMTSplit",
         [](const std::string& in, const std::string&) {
             static TS_PMTSplitData table;
             return TS_CheckPMTSplit(&table, in.c_str());
         }},
        {"TS_PMTSplitFile", [](const std::string& in, const std::string&) { return TS_PMTSplitFile(in.c_str(), 1, 0, nullptr); }},
    };
}

// The program splitter through the tool.
inline tsb::ToolResult runRivulet(const std::string& input, const std::string& shellPrefix = "") {
    return tsb::runTool({tsb::toolPath(), input}, shellPrefix);
}

// Feeds `bytes` into the FIFO at `path` from a thread of its own. Opening
// and writing never block for long: the writer waits at most `patience` for
// a reader to appear or to take more bytes, then closes its end (which the
// reader sees as the end of the input).
class FifoWriter {
public:
    FifoWriter(std::string path, Bytes bytes) : path_(std::move(path)), bytes_(std::move(bytes)) {}

    // Run on a thread: returns the number of bytes the reader took.
    size_t feed(std::chrono::seconds patience = std::chrono::seconds(20)) const {
        auto deadline = std::chrono::steady_clock::now() + patience;
        int fd = -1;
        while ((fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
            if (errno != ENXIO || std::chrono::steady_clock::now() > deadline) return 0;
            ::usleep(2000);
        }
        size_t sent = 0;
        while (sent < bytes_.size()) {
            ssize_t n = ::write(fd, bytes_.data() + sent, bytes_.size() - sent);
            if (n > 0) {
                sent += size_t(n);
                deadline = std::chrono::steady_clock::now() + patience;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) break;  // EPIPE: the reader left
            if (std::chrono::steady_clock::now() > deadline) break;
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
        }
        ::close(fd);
        return sent;
    }

private:
    std::string path_;
    Bytes bytes_;
};

// Ignores SIGPIPE while it lives, so that a reader that leaves early makes
// the FIFO writer's write fail instead of ending the test process.
class IgnoreSigpipe {
public:
    IgnoreSigpipe() { previous_ = ::signal(SIGPIPE, SIG_IGN); }
    ~IgnoreSigpipe() { ::signal(SIGPIPE, previous_); }

private:
    void (*previous_)(int);
};

struct ChildResult {
    int32_t status = 0;  // the driver's status
    std::string err;
    bool exitedNormally = false;
};

// Runs `body` in a child process whose files may grow to at most
// `fileLimit` bytes (SIGXFSZ ignored, so writes beyond fail with EFBIG) and
// hands back its status and what it printed on standard error.
inline ChildResult runUnderFileLimit(uint64_t fileLimit, const std::function<int32_t()>& body) {
    std::string dir = tsb::makeTempDir("limit");
    std::string errPath = dir + "/stderr";
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t child = ::fork();
    if (child == 0) {
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(err, 2);
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{rlim_t(fileLimit), rlim_t(fileLimit)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        int32_t status = body();
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(status < 0 ? -status : 0);
    }
    int wstatus = 0;
    ::waitpid(child, &wstatus, 0);
    ChildResult result;
    result.exitedNormally = WIFEXITED(wstatus);
    result.status = result.exitedNormally ? -WEXITSTATUS(wstatus) : INT32_MIN;
    Bytes err = tsb::readFile(errPath);
    result.err.assign(err.begin(), err.end());
    tsb::removeTree(dir);
    return result;
}

// True when `prefix` is the start of `whole`.
inline bool isPrefix(const Bytes& prefix, const Bytes& whole) {
    return prefix.size() <= whole.size() && std::equal(prefix.begin(), prefix.end(), whole.begin());
}

// The number of times the 188-byte `packet` occurs at a packet boundary of
// `stream`.
inline size_t countPacket(const Bytes& stream, const Bytes& packet) {
    size_t count = 0;
    for (size_t at = 0; at + 188 <= stream.size(); at += 188) {
        count += std::equal(packet.begin(), packet.end(), stream.begin() + long(at));
    }
    return count;
}

}  // namespace hostile

#endif
