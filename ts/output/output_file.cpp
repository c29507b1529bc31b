#include "ts/output/output_file.h"

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

// A failed write may have left part of a packet: the file is cut back to the
// whole packets before it, so that it never ends in a torn one.
int32_t failWrite(OutputFile* file) {
    file->u8Failed = 1;
    logMessage(file->tLog, TS_LOG_ERROR, "Error: Failed write %s.\n", file->strPath);
    if (file->nFD >= 0 && file->u32Unit > 0) {
        uint64_t whole = file->u64Written - file->u64Written % file->u32Unit;
        // What the file holds is what a report of it tells.
        if (::ftruncate(file->nFD, off_t(whole)) == 0) file->u64Written = whole;
    }
    return TS_ERR_WRITE;
}

// writev() until every run is out; false on an error or a write that makes
// no progress (a full disk, a file size limit). Runs are consumed as written.
bool writeRuns(OutputFile* file, iovec* runs, uint32_t count) {
    while (count > 0) {
        ssize_t n = ::writev(file->nFD, runs, int(count));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        file->u64Written += uint64_t(n);
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

bool listQueued(OutputFile* file) {
    OutputQueue* queue = file->pQueue;
    if (file->u8Listed) return true;
    if (!queue || queue->u32Count == kMaxQueuedFiles) return false;
    file->u8Listed = 1;
    queue->ltListed[queue->u32Count++] = file;
    return true;
}

// Regular files only: a link, a FIFO, a device or a folder of an output's
// name is refused untouched (the open neither follows nor blocks, and the
// file is cut only once known to be a regular file).
int openRegularFile(const char* path, WrittenFiles* written) {
    int fd = ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && !(written && writtenFilesHas(written, st)) &&
              ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0 && ::ftruncate(fd, 0) == 0;
    if (!ok) {
        ::close(fd);
        return -1;
    }
    if (written) writtenFilesAdd(written, st);
    return fd;
}

}  // namespace

void outputQueueReset(OutputQueue* queue) { queue->u32Count = 0; }

void outputQueueFlush(OutputQueue* queue) {
    for (uint32_t i = 0; i < queue->u32Count; ++i) {
        queue->ltListed[i]->u8Listed = 0;
        outputFlush(queue->ltListed[i]);
    }
    queue->u32Count = 0;
}

void flushQueueHook(void* queue) { outputQueueFlush(static_cast<OutputQueue*>(queue)); }

void outputReset(OutputFile* file) {
    file->nFD = -1;
    file->u8Failed = 0;
    file->u8Listed = 0;
    file->u32Runs = 0;
    file->u32Owned = 0;
    file->u32Unit = 0;
    file->u64Written = 0;
    file->pQueue = nullptr;
    file->tLog = LogSink{};
    file->strPath[0] = '\0';
}

bool isSameFile(const char* path, int inputFD) {
    struct stat out, in;
    if (inputFD < 0 || ::stat(path, &out) != 0 || ::fstat(inputFD, &in) != 0) return false;
    return out.st_dev == in.st_dev && out.st_ino == in.st_ino;
}

OpenResult outputOpen(OutputFile* file, const char* path, const OutputPlace& place) {
    outputReset(file);
    rememberPath(file, path);
    file->tLog = place.tLog;
    if (isSameFile(path, place.inputFD)) return OpenResult::IsInput;
    int fd = openRegularFile(path, place.pWritten);
    if (fd < 0) return OpenResult::Failed;
    file->nFD = fd;
    file->pQueue = place.pQueue;
    file->u32Unit = place.u32Unit;
    return OpenResult::Opened;
}

int32_t outputFlush(OutputFile* file) {
    uint32_t runs = file->u32Runs;
    file->u32Runs = 0;
    file->u32Owned = 0;
    if (file->nFD < 0 || file->u8Failed) return file->u8Failed ? TS_ERR_WRITE : 0;
    return runs && !writeRuns(file, file->ltRun, runs) ? failWrite(file) : 0;
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
    if (::close(file->nFD) != 0 && status == 0) {
        file->nFD = -1;
        status = failWrite(file);
    }
    file->nFD = -1;
    file->u32Runs = 0;
    file->u32Owned = 0;
    return status;
}

}  // namespace rivulet
