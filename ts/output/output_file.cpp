#include "ts/output/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "ts/output/writer_pool.h"

namespace rivulet {
namespace {

void rememberPath(OutputFile* file, const char* path) {
    std::snprintf(file->strPath, sizeof file->strPath, "%s", path);
}

// A failed write may have left part of a packet: the file is cut back to the
// whole packets before it, so that it never ends in a torn one. Returns what
// the file then holds of `written` bytes.
uint64_t cutBack(const OutputFile* file, uint64_t written) {
    if (file->nFD < 0 || file->u32Unit == 0) return written;
    const uint64_t whole = written - written % file->u32Unit;
    // What the file holds is what a report of it tells.
    return ::ftruncate(file->nFD, off_t(whole)) == 0 ? whole : written;
}

void tellFailure(OutputFile* file) {
    file->u8Failed = 1;
    if (file->pQueue) file->pQueue->u8Failed = 1;
    logMessage(file->tLog, TS_LOG_ERROR, "Error: Failed write %s.\n", file->strPath);
}

int32_t failWrite(OutputFile* file) {
    tellFailure(file);
    file->u64Written = cutBack(file, file->u64Written);
    return TS_ERR_WRITE;
}

// writev() until every run is out, counting the bytes taken in `written`;
// false on an error or a write that makes no progress (a full disk, a file
// size limit). Runs are consumed as written.
bool writeRuns(int fd, iovec* runs, uint32_t count, uint64_t* written) {
    while (count > 0) {
        ssize_t n = ::writev(fd, runs, int(count));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        *written += uint64_t(n);
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

void emptyBatch(OutputBatch* batch) {
    batch->u32Runs = 0;
    batch->u32Owned = 0;
}

// Writes the filling batch on the driver's thread.
int32_t writeFilling(OutputFile* file) {
    OutputBatch& batch = *file->pFilling;
    const uint32_t runs = batch.u32Runs;
    emptyBatch(&batch);
    if (runs == 0) return 0;
    uint64_t written = 0;
    const bool ok = writeRuns(file->nFD, batch.ltRun, runs, &written);
    file->u64Written += written;
    return ok ? 0 : failWrite(file);
}

WriterPool* poolOf(const OutputFile* file) { return file->pQueue ? file->pQueue->pPool : nullptr; }

// Makes room in the filling batch: hands it to the writers, or writes it.
int32_t handOver(OutputFile* file) {
    WriterPool* pool = poolOf(file);
    if (!pool) return writeFilling(file);
    if (file->pFilling->u32Runs > 0) writerPoolSubmit(pool, file);
    return file->u8Failed ? TS_ERR_WRITE : 0;
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

void outputQueueReset(OutputQueue* queue) {
    queue->u32Count = 0;
    queue->u8Failed = 0;
}

// Hands every listed file's runs over (or writes them, without writers).
void handOverListed(OutputQueue* queue) {
    for (uint32_t i = 0; i < queue->u32Count; ++i) {
        OutputFile* file = queue->ltListed[i];
        file->u8Listed = 0;
        if (file->nFD < 0 || file->u8Failed) {
            emptyBatch(file->pFilling);
        } else {
            handOver(file);
        }
    }
    queue->u32Count = 0;
}

int32_t outputQueueFlush(OutputQueue* queue) {
    handOverListed(queue);
    if (queue->pPool) writerPoolWaitAll(queue->pPool);
    return queue->u8Failed ? TS_ERR_WRITE : 0;
}

void flushQueueHook(void* queue) { outputQueueFlush(static_cast<OutputQueue*>(queue)); }

void handOffQueueHook(void* queue) {
    OutputQueue* q = static_cast<OutputQueue*>(queue);
    if (q->pPool) writerPoolWaitAll(q->pPool);
    handOverListed(q);
}

void outputWriteHandedOver(OutputFile* file) {
    OutputBatch& batch = *file->pWriting;
    uint64_t written = 0;
    const bool ok = writeRuns(file->nFD, batch.ltRun, batch.u32Runs, &written);
    file->u64WriterDone = ok ? written : cutBack(file, file->u64Written + written) - file->u64Written;
    file->u8WriterFailed = !ok;
}

void outputCollect(OutputFile* file) {
    file->u64Written += file->u64WriterDone;
    emptyBatch(file->pWriting);
    file->pWriting = nullptr;
    if (file->u8WriterFailed) tellFailure(file);
    file->u8WriterFailed = 0;
}

void outputFree(OutputFile* file) {
    delete file->pSpare;
    file->pSpare = nullptr;
}

void outputReset(OutputFile* file) {
    file->nFD = -1;
    file->u8Failed = 0;
    file->u8Listed = 0;
    file->u32Unit = 0;
    file->pFilling = &file->tBatch;
    emptyBatch(&file->tBatch);
    file->pWriting = nullptr;
    file->u8WithWriters = 0;
    file->u8WriterFailed = 0;
    file->u64WriterDone = 0;
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
    // Writer threads write one batch while the driver fills the other.
    if (place.pQueue && place.pQueue->pPool && !file->pSpare) {
        file->pSpare = new (std::nothrow) OutputBatch;
        if (!file->pSpare) return OpenResult::Failed;
        emptyBatch(file->pSpare);
    }
    int fd = openRegularFile(path, place.pWritten);
    if (fd < 0) return OpenResult::Failed;
    file->nFD = fd;
    file->pQueue = place.pQueue;
    file->u32Unit = place.u32Unit;
    return OpenResult::Opened;
}

int32_t outputFlush(OutputFile* file) {
    if (file->nFD < 0 || file->u8Failed) {
        emptyBatch(file->pFilling);
        return file->u8Failed ? TS_ERR_WRITE : 0;
    }
    int32_t status = handOver(file);
    WriterPool* pool = poolOf(file);
    if (!pool) return status;
    writerPoolWaitFile(pool, file);
    return file->u8Failed ? TS_ERR_WRITE : 0;
}

int32_t outputWrite(OutputFile* file, const uint8_t* data, uint32_t size) {
    if (file->nFD < 0) return 0;
    if (file->u8Failed) return TS_ERR_WRITE;
    OutputBatch* batch = file->pFilling;
    if (batch->u32Runs > 0) {
        iovec& last = batch->ltRun[batch->u32Runs - 1];
        if (static_cast<const uint8_t*>(last.iov_base) + last.iov_len == data) {
            last.iov_len += size;
            return 0;
        }
    }
    if (batch->u32Runs == kMaxQueuedRuns) {
        int32_t status = handOver(file);
        if (status != 0) return status;
        batch = file->pFilling;
    }
    batch->ltRun[batch->u32Runs++] = iovec{const_cast<uint8_t*>(data), size};
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
    // Room for the copy and for its run, so that no hand-over between the
    // copy and its queueing frees the bytes it was copied to.
    OutputBatch* batch = file->pFilling;
    if (batch->u32Owned + size > kOwnedBufferSize || batch->u32Runs == kMaxQueuedRuns) {
        int32_t status = handOver(file);
        if (status != 0) return status;
        batch = file->pFilling;
    }
    uint8_t* copy = batch->lu8Owned + batch->u32Owned;
    std::memcpy(copy, data, size);
    batch->u32Owned += size;
    return outputWrite(file, copy, size);
}

int32_t outputClose(OutputFile* file) {
    if (file->nFD < 0) return 0;
    int32_t status = outputFlush(file);
    if (::close(file->nFD) != 0 && status == 0) {
        file->nFD = -1;
        status = failWrite(file);
    }
    file->nFD = -1;
    emptyBatch(file->pFilling);
    return status;
}

}  // namespace rivulet
