// The files a run has written, and the inputs it must not write: by device
// and inode, so that a name that comes round again (another input's, a
// wrapped count, another path to the same file) never truncates one. A run
// is one driver call, or the splits of one command that share a
// TS_SplitRun.
#ifndef RIVULET_WRITTEN_FILES_H
#define RIVULET_WRITTEN_FILES_H

#include <sys/stat.h>

#include <cstdint>

struct TS_SplitRun;

namespace rivulet {

constexpr uint32_t kWrittenCapacity = 65536;

// What a registered file is to the run.
constexpr uint8_t kFileWritten = 1;
constexpr uint8_t kFileProtected = 2;  // an input of the run

struct WrittenFile {
    uint64_t u64Device;
    uint64_t u64Inode;
    uint8_t u8Used;  // 0, kFileWritten or kFileProtected
};

struct WrittenFiles {
    WrittenFile ltFile[kWrittenCapacity];  // open addressing
    uint32_t u32Count;
};

// A new registry, empty, or null when memory is short.
WrittenFiles* writtenFilesCreate();
void writtenFilesDestroy(WrittenFiles* files);
bool writtenFilesHas(const WrittenFiles* files, const struct stat& st);
// Whether the run wrote the file (rather than protects it as an input).
bool writtenFilesWrote(const WrittenFiles* files, const struct stat& st);
// Once full, the check degrades; nothing breaks.
void writtenFilesAdd(WrittenFiles* files, const struct stat& st, uint8_t kind = kFileWritten);

// The registry of a command's run, or null without one.
WrittenFiles* runFiles(TS_SplitRun* run);

}  // namespace rivulet

#endif
