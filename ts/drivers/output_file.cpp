#include "ts/drivers/output_file.h"

#include "ts/stream/packet_walk.h"

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

// writev() until every run is out; false on an error or a write that makes
// no progress (a full disk, a file size limit). Runs are consumed as written.
bool writeRuns(int fd, iovec* runs, uint32_t count) {
    while (count > 0) {
        ssize_t n = ::writev(fd, runs, int(count));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        size_t done = size_t(n);
        while (count > 0 && done >= runs->iov_len) {
            done -= runs->iov_len;
            ++runs;
            --count;
        }
        if (count > 0) {
            runs->iov_base = static_cast<uint8_t*>(runs->iov_base) + done;
            runs->iov_len -= done;
        }
    }
    return true;
}

// The files with queued runs, for flushQueuedOutputs: every file of every
// driver fits.
constexpr uint32_t kMaxListed = 2 * TS_PMT_SPLIT_MAX_ENTRIES + 2;
OutputFile* g_listed[kMaxListed];
uint32_t g_listedCount;

bool listQueued(OutputFile* file) {
    if (file->u8Listed) return true;
    if (g_listedCount == kMaxListed) return false;
    file->u8Listed = 1;
    g_listed[g_listedCount++] = file;
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
    file->u8Failed = 0;
    file->u32Runs = 0;
    file->u32Owned = 0;
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
    uint32_t runs = file->u32Runs;
    file->u32Runs = 0;
    file->u32Owned = 0;
    if (file->nFD < 0 || file->u8Failed) return file->u8Failed ? TS_ERR_WRITE : 0;
    return runs && !writeRuns(file->nFD, file->ltRun, runs) ? failWrite(file) : 0;
}

int32_t outputWrite(OutputFile* file, const uint8_t* data, uint32_t size) {
    if (file->nFD < 0) return 0;
    if (file->u8Failed) return TS_ERR_WRITE;
    if (file->u32Runs > 0) {
        iovec& last = file->ltRun[file->u32Runs - 1];
        if (static_cast<const uint8_t*>(last.iov_base) + last.iov_len == data) {
            last.iov_len += size;
            return 0;
        }
    }
    if (file->u32Runs == kMaxQueuedRuns) {
        int32_t status = outputFlush(file);
        if (status != 0) return status;
    }
    file->ltRun[file->u32Runs++] = iovec{const_cast<uint8_t*>(data), size};
    // A file that cannot be listed writes at once rather than risk its bytes.
    return listQueued(file) ? 0 : outputFlush(file);
}

int32_t outputWriteCopy(OutputFile* file, const uint8_t* data, uint32_t size) {
    if (file->nFD < 0) return 0;
    if (file->u8Failed) return TS_ERR_WRITE;
    if (size > kOwnedBufferSize) {
        int32_t status = outputFlush(file);
        return status != 0 ? status : outputWrite(file, data, size) == 0 ? outputFlush(file) : TS_ERR_WRITE;
    }
    // Room for the copy and for its run, so that no flush between the copy
    // and its queueing frees the bytes it was copied to.
    if (file->u32Owned + size > kOwnedBufferSize || file->u32Runs == kMaxQueuedRuns) {
        int32_t status = outputFlush(file);
        if (status != 0) return status;
    }
    uint8_t* copy = file->lu8Owned + file->u32Owned;
    std::memcpy(copy, data, size);
    file->u32Owned += size;
    return outputWrite(file, copy, size);
}

int32_t outputClose(OutputFile* file) {
    if (file->nFD < 0) return 0;
    int32_t status = file->u8Failed ? TS_ERR_WRITE : outputFlush(file);
    if (::close(file->nFD) != 0 && status == 0) status = failWrite(file);
    file->nFD = -1;
    file->u32Runs = 0;
    file->u32Owned = 0;
    return status;
}

}  // namespace rivulet

void rivulet::flushQueuedOutputs() {
    for (uint32_t i = 0; i < g_listedCount; ++i) {
        g_listed[i]->u8Listed = 0;
        outputFlush(g_listed[i]);
    }
    g_listedCount = 0;
}
