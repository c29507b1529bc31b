// Checked output files shared by every driver that writes streams. A file
// does not copy the packets it is given: it queues where they lie (in the
// stream buffer, runs of neighbouring packets as one) and hands them to the
// kernel with one writev per queue, so that a packet goes from the bytes
// read straight to the kernel. Bytes that do not stay put (a rebuilt PAT, a
// held packet) are copied into the file's own small buffer first. A failed or
// short write is reported once, and the file then holds exactly the bytes
// written before the failure: a prefix of its content.
#ifndef RIVULET_OUTPUT_FILE_H
#define RIVULET_OUTPUT_FILE_H

#include <sys/uio.h>

#include <cstdint>

#include "rivulet/ts.h"

namespace rivulet {

constexpr uint32_t kMaxQueuedRuns = 1024;          // the most one writev takes (IOV_MAX)
constexpr uint32_t kOwnedBufferSize = 188 * 64;    // bytes a file copies before it writes
constexpr uint32_t kShownPathSize = 4096;          // paths longer than this cannot be opened anyway

struct OutputFile {
    int32_t nFD;
    uint8_t u8Failed;
    uint8_t u8Listed;       // among the files flushQueuedOutputs writes out
    uint32_t u32Runs;
    uint32_t u32Owned;
    char strPath[kShownPathSize];
    iovec ltRun[kMaxQueuedRuns];
    uint8_t lu8Owned[kOwnedBufferSize];
};

enum class OpenResult { Opened, Failed, IsInput };

void outputReset(OutputFile* file);
inline bool outputIsOpen(const OutputFile* file) { return file->nFD >= 0; }

// A run (one driver call, or several inputs of one command) begins: files
// opened from now on must not have been opened before in it.
void outputStartRun();

// Opens `path` write-only, created with mode 0666 less the umask, truncated.
// Refuses (IsInput, nothing opened, nothing truncated) when `path` names the
// file open as `inputFD`, through whatever path or link; refuses (Failed,
// nothing touched) a symbolic link, anything but a regular file, and a file
// this run has already opened.
OpenResult outputOpen(OutputFile* file, const char* path, int inputFD);
bool isSameFile(const char* path, int inputFD);

// Queues `size` bytes at `data`, which must stay as they are until the file
// is flushed or closed or flushQueuedOutputs runs (the walk calls it before
// it refills the stream buffer). 0, or TS_ERR_WRITE after "Error: Failed
// write %s." on standard error.
int32_t outputWrite(OutputFile* file, const uint8_t* data, uint32_t size);
// The same for bytes that may change once the call returns: they are copied.
int32_t outputWriteCopy(OutputFile* file, const uint8_t* data, uint32_t size);
int32_t outputFlush(OutputFile* file);
// Flushes (unless an earlier write failed) and closes; 0 or TS_ERR_WRITE.
int32_t outputClose(OutputFile* file);

}  // namespace rivulet

#endif
