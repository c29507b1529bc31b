#include "app/common/guarded_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace rivulet {
namespace {

constexpr const char* kStandardInput = "-";

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool isInput(const struct stat& target, const char* input) {
    struct stat st;
    bool opened = std::strcmp(input, kStandardInput) == 0 ? ::fstat(STDIN_FILENO, &st) == 0 : ::stat(input, &st) == 0;
    return opened && sameFile(target, st);
}

// "dir/.name.XXXXXX" beside `path`, so that the rename stays on one file system.
std::string temporaryBeside(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    return std::string(path, size_t(name - path)) + "." + name + ".XXXXXX";
}

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return ::fsync(fd) == 0;
}

bool refuse(const char* path) {
    std::fprintf(stderr, "Error: Failed open %s.\n", path);
    return false;
}

}  // namespace

bool mayWriteAt(const char* path, const std::vector<const char*>& inputs, const TS_SplitRun* run) {
    struct stat st;
    if (::lstat(path, &st) != 0) return errno == ENOENT;
    if (!S_ISREG(st.st_mode)) return false;
    for (const char* input : inputs) {
        if (isInput(st, input)) return false;
    }
    return !run || TS_SplitRun_Holds(run, path) == 0;
}

bool writeGuarded(const char* path, const std::string& text, const std::vector<const char*>& inputs,
                  const TS_SplitRun* run) {
    if (!mayWriteAt(path, inputs, run)) return refuse(path);
    std::string temporary = temporaryBeside(path);
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return refuse(path);
    // mkstemp makes the file 0600; a report is as readable as the outputs.
    mode_t mask = ::umask(0);
    ::umask(mask);
    bool written = ::fchmod(fd, 0666 & ~mask) == 0 && writeAll(fd, text);
    written = ::close(fd) == 0 && written;
    // Checked again: the name may have been taken while the file was written.
    if (written && !mayWriteAt(path, inputs, run)) {
        ::unlink(temporary.c_str());
        return refuse(path);
    }
    if (written && ::rename(temporary.c_str(), path) == 0) return true;
    ::unlink(temporary.c_str());
    std::fprintf(stderr, "Error: Failed write %s.\n", path);
    return false;
}

}  // namespace rivulet
