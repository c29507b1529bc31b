// Buffered, checked output files shared by every driver that writes streams.
// Each file collects packets in a fixed buffer and hands them to the kernel in
// large writes; a failed or short write is reported once, and the file then
// holds exactly the bytes written before the failure: a prefix of its content.
#ifndef RIVULET_OUTPUT_FILE_H
#define RIVULET_OUTPUT_FILE_H

#include <cstdint>

#include "rivulet/ts.h"

namespace rivulet {

constexpr uint32_t kOutputBufferSize = 188 * 1024;  // whole packets, ~188 KiB per file
constexpr uint32_t kShownPathSize = 4096;           // paths longer than this cannot be opened anyway

struct OutputFile {
    int32_t nFD;
    uint32_t u32Used;
    uint8_t u8Failed;
    char strPath[kShownPathSize];
    uint8_t lu8Buffer[kOutputBufferSize];
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

// Queue one packet (or any bytes). 0, or TS_ERR_WRITE after "Error: Failed
// write %s." on standard error.
int32_t outputWrite(OutputFile* file, const uint8_t* data, uint32_t size);
int32_t outputFlush(OutputFile* file);
// Flushes (unless an earlier write failed) and closes; 0 or TS_ERR_WRITE.
int32_t outputClose(OutputFile* file);

}  // namespace rivulet

#endif
