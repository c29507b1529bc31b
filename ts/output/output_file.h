// ts/output: the files the drivers write, their names, and the files a run
// has written.
//
// Checked output files shared by every driver that writes streams. A file
// does not copy the packets it is given: it queues where they lie (in the
// walk's buffer, runs of neighbouring packets as one) and hands them to the
// kernel with one writev per queue, so that a packet goes from the bytes
// read straight to the kernel. Bytes that do not stay put (a rebuilt PAT, a
// held packet) are copied into the file's own small buffer first. A failed or
// short write is reported once, and the file is then cut back to the whole
// packets written before the failure: a prefix of its content. With writer
// threads (writer_pool.h) a file has two batches of runs: the threads write
// one while the driver fills the other.
#ifndef RIVULET_OUTPUT_FILE_H
#define RIVULET_OUTPUT_FILE_H

#include <sys/uio.h>

#include <cstdint>

#include "rivulet/common.h"
#include "ts/core/log_sink.h"
#include "ts/output/written_files.h"

namespace rivulet {

constexpr uint32_t kMaxQueuedRuns = 1024;          // the most one writev takes (IOV_MAX)
constexpr uint32_t kOwnedBufferSize = 188 * 64;    // bytes a file copies before it writes
constexpr uint32_t kShownPathSize = 4096;          // paths longer than this cannot be opened anyway
// Files one driver keeps: a PMT-change split's distinct PMTs, and more.
constexpr uint32_t kMaxQueuedFiles = TS_PMT_SPLIT_MAX_ENTRIES + 2;

struct WriterPool;
struct OutputQueue;

// Runs queued for one writev, and the bytes copied for them.
struct OutputBatch {
    uint32_t u32Runs;
    uint32_t u32Owned;
    iovec ltRun[kMaxQueuedRuns];
    uint8_t lu8Owned[kOwnedBufferSize];
};

struct OutputFile {
    int32_t nFD;
    uint8_t u8Failed;
    uint8_t u8Listed;       // among the files of its queue
    uint32_t u32Unit;       // packets are this long: a failure cuts the file back to a multiple
    uint64_t u64Written;    // bytes the kernel has taken
    OutputQueue* pQueue;    // where it lists itself when it queues bytes; null: writes at once
    LogSink tLog;           // where its failure is told
    OutputBatch* pFilling;  // the batch runs are queued in: tBatch, or pSpare while tBatch is written
    OutputBatch* pSpare = nullptr;  // with writer threads: the second batch, made at the first open
    // With writer threads (writer_pool.h): the batch handed over until the
    // driver collects it; the rest under the pool's lock.
    OutputBatch* pWriting;
    uint8_t u8WithWriters;  // handed over and not yet written
    uint8_t u8WriterFailed;
    uint64_t u64WriterDone; // bytes of it the kernel took
    OutputFile* pNextQueued;
    OutputFile* pNextWritten;
    char strPath[kShownPathSize];
    OutputBatch tBatch;
};

// The files of one driver that hold queued bytes, written out together
// before the walk moves its buffer (a WalkHook), by the driver's thread or
// by its writer threads.
struct OutputQueue {
    OutputFile* ltListed[kMaxQueuedFiles];
    uint32_t u32Count;
    WriterPool* pPool = nullptr;  // null: the driver's own thread writes
    uint8_t u8Failed = 0;         // a write of one of its files failed since the reset
};

// Empties the queue; its writer threads, if any, stay.
void outputQueueReset(OutputQueue* queue);
// Writes every queued byte: done when the call returns. TS_ERR_WRITE when
// a write of one of the queue's files has failed since its reset, else 0.
int32_t outputQueueFlush(OutputQueue* queue);
// outputQueueFlush as a WalkHook function.
void flushQueueHook(void* queue);
// With writer threads, the hook of a walk that alternates two buffers:
// waits until the bytes handed over before (in the buffer the walk is about
// to fill) are written, then hands over what is queued now and returns.
void handOffQueueHook(void* queue);

// Writes the batch `file` handed over (a writer thread's work): sets
// u64WriterDone and u8WriterFailed, the file cut back to whole packets after a failure.
void outputWriteHandedOver(OutputFile* file);
// Takes what the writers learned of `file` into it (the driver's thread).
void outputCollect(OutputFile* file);
// Frees what outputOpen made beyond the record itself.
void outputFree(OutputFile* file);

void outputReset(OutputFile* file);
inline bool outputIsOpen(const OutputFile* file) { return file->nFD >= 0; }

enum class OpenResult { Opened, Failed, IsInput };

// Where and how a driver opens its files.
struct OutputPlace {
    int inputFD;              // never opened as an output
    WrittenFiles* pWritten;   // files of the run, never opened twice; may be null
    OutputQueue* pQueue;
    uint32_t u32Unit;         // bytes of one output packet
    LogSink tLog;             // where the files' failures are told
};

// Opens `path` write-only, created with mode 0666 less the umask, truncated.
// Refuses (IsInput, nothing opened, nothing truncated) when `path` names the
// file open as the input, through whatever path or link; refuses (Failed,
// nothing touched) a symbolic link, anything but a regular file, and a file
// the run has already opened or protects.
OpenResult outputOpen(OutputFile* file, const char* path, const OutputPlace& place);
bool isSameFile(const char* path, int inputFD);

// Queues `size` bytes at `data`, which must stay as they are until the file
// is flushed or closed or its queue is flushed. 0, or TS_ERR_WRITE after
// "Error: Failed write %s." (to the sink of the place it was opened in).
int32_t outputWrite(OutputFile* file, const uint8_t* data, uint32_t size);
// The same for bytes that may change once the call returns: they are copied.
int32_t outputWriteCopy(OutputFile* file, const uint8_t* data, uint32_t size);
int32_t outputFlush(OutputFile* file);
// Flushes (unless an earlier write failed) and closes; 0 or TS_ERR_WRITE.
int32_t outputClose(OutputFile* file);

}  // namespace rivulet

#endif
