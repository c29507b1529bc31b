#include "ts/drivers/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace rivulet {
namespace {

void rememberPath(OutputFile* file, const char* path) {
    std::snprintf(file->strPath, sizeof file->strPath, "%s", path);
}

int32_t failWrite(OutputFile* file) {
    file->u8Failed = 1;
    std::fprintf(stderr, "Error: Failed write %s.\n", file->strPath);
    return TS_ERR_WRITE;
}

// write() until every byte is out; false on an error or a write that makes no
// progress (a full disk, a file size limit).
bool writeAll(int fd, const uint8_t* data, uint32_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= uint32_t(n);
    }
    return true;
}

// The files this run has opened, by device and inode, so that a name that
// comes round again (another input's, a wrapped count) never truncates one.
// Open addressing; a new run starts a new generation instead of clearing.
constexpr uint32_t kWrittenCapacity = 65536;

struct WrittenFile {
    uint64_t u64Device;
    uint64_t u64Inode;
    uint32_t u32Generation;
};

WrittenFile g_written[kWrittenCapacity];
uint32_t g_generation = 1;
uint32_t g_writtenCount;

WrittenFile* findWritten(const struct stat& st) {
    uint64_t hash = (uint64_t(st.st_ino) * 0x9E3779B97F4A7C15ull) ^ uint64_t(st.st_dev);
    for (uint32_t probe = 0; probe < kWrittenCapacity; ++probe) {
        WrittenFile& slot = g_written[(hash + probe) % kWrittenCapacity];
        bool used = slot.u32Generation == g_generation;
        if (!used || (slot.u64Device == uint64_t(st.st_dev) && slot.u64Inode == uint64_t(st.st_ino))) return &slot;
    }
    return nullptr;
}

bool writtenThisRun(const struct stat& st) {
    const WrittenFile* slot = findWritten(st);
    return slot && slot->u32Generation == g_generation;
}

void rememberWritten(const struct stat& st) {
    if (g_writtenCount + 1 >= kWrittenCapacity) return;  // full: the check degrades, nothing breaks
    WrittenFile* slot = findWritten(st);
    if (!slot || slot->u32Generation == g_generation) return;
    *slot = WrittenFile{uint64_t(st.st_dev), uint64_t(st.st_ino), g_generation};
    ++g_writtenCount;
}

// Regular files only: a link, a FIFO, a device or a folder of an output's
// name is refused untouched (the open neither follows nor blocks, and the
// file is cut only once known to be a regular file).
int openRegularFile(const char* path) {
    int fd = ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && !writtenThisRun(st) &&
              ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0 && ::ftruncate(fd, 0) == 0;
    if (!ok) {
        ::close(fd);
        return -1;
    }
    rememberWritten(st);
    return fd;
}

}  // namespace

void outputStartRun() {
    ++g_generation;
    g_writtenCount = 0;
}

void outputReset(OutputFile* file) {
    file->nFD = -1;
    file->u32Used = 0;
    file->u8Failed = 0;
    file->strPath[0] = '\0';
}

bool isSameFile(const char* path, int inputFD) {
    struct stat out, in;
    if (inputFD < 0 || ::stat(path, &out) != 0 || ::fstat(inputFD, &in) != 0) return false;
    return out.st_dev == in.st_dev && out.st_ino == in.st_ino;
}

OpenResult outputOpen(OutputFile* file, const char* path, int inputFD) {
    outputReset(file);
    rememberPath(file, path);
    if (isSameFile(path, inputFD)) return OpenResult::IsInput;
    int fd = openRegularFile(path);
    if (fd < 0) return OpenResult::Failed;
    file->nFD = fd;
    return OpenResult::Opened;
}

int32_t outputFlush(OutputFile* file) {
    if (file->nFD < 0 || file->u8Failed) return file->u8Failed ? TS_ERR_WRITE : 0;
    uint32_t used = file->u32Used;
    file->u32Used = 0;
    if (used && !writeAll(file->nFD, file->lu8Buffer, used)) return failWrite(file);
    return 0;
}

int32_t outputWrite(OutputFile* file, const uint8_t* data, uint32_t size) {
    if (file->nFD < 0) return 0;
    if (file->u8Failed) return TS_ERR_WRITE;
    if (file->u32Used + size > kOutputBufferSize) {
        int32_t status = outputFlush(file);
        if (status != 0) return status;
        if (size > kOutputBufferSize) return writeAll(file->nFD, data, size) ? 0 : failWrite(file);
    }
    std::memcpy(file->lu8Buffer + file->u32Used, data, size);
    file->u32Used += size;
    return 0;
}

int32_t outputClose(OutputFile* file) {
    if (file->nFD < 0) return 0;
    int32_t status = file->u8Failed ? TS_ERR_WRITE : outputFlush(file);
    if (::close(file->nFD) != 0 && status == 0) status = failWrite(file);
    file->nFD = -1;
    file->u32Used = 0;
    return status;
}

}  // namespace rivulet
