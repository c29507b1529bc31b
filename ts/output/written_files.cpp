#include "ts/output/written_files.h"

#include <cstdlib>
#include <new>

#include "rivulet/split.h"

namespace rivulet {
namespace {

WrittenFile* findSlot(WrittenFiles* files, const struct stat& st) {
    uint64_t hash = (uint64_t(st.st_ino) * 0x9E3779B97F4A7C15ull) ^ uint64_t(st.st_dev);
    for (uint32_t probe = 0; probe < kWrittenCapacity; ++probe) {
        WrittenFile& slot = files->ltFile[(hash + probe) % kWrittenCapacity];
        if (!slot.u8Used || (slot.u64Device == uint64_t(st.st_dev) && slot.u64Inode == uint64_t(st.st_ino))) {
            return &slot;
        }
    }
    return nullptr;
}

}  // namespace

// calloc: the pages of a registry cost nothing until a file lands on them.
WrittenFiles* writtenFilesCreate() { return static_cast<WrittenFiles*>(std::calloc(1, sizeof(WrittenFiles))); }

void writtenFilesDestroy(WrittenFiles* files) { std::free(files); }

bool writtenFilesHas(const WrittenFiles* files, const struct stat& st) {
    const WrittenFile* slot = findSlot(const_cast<WrittenFiles*>(files), st);
    return slot && slot->u8Used;
}

bool writtenFilesWrote(const WrittenFiles* files, const struct stat& st) {
    const WrittenFile* slot = findSlot(const_cast<WrittenFiles*>(files), st);
    return slot && slot->u8Used == kFileWritten;
}

void writtenFilesAdd(WrittenFiles* files, const struct stat& st, uint8_t kind) {
    if (files->u32Count + 1 >= kWrittenCapacity) return;
    WrittenFile* slot = findSlot(files, st);
    if (!slot || slot->u8Used) return;
    *slot = WrittenFile{uint64_t(st.st_dev), uint64_t(st.st_ino), kind};
    ++files->u32Count;
}

}  // namespace rivulet

// A command's run: its files, which later splits of the command must not
// overwrite, and its inputs, which no split of it may write.
struct TS_SplitRun {
    rivulet::WrittenFiles* pFiles;
};

TS_SplitRun* TS_SplitRun_Open(void) {
    TS_SplitRun* run = new (std::nothrow) TS_SplitRun{rivulet::writtenFilesCreate()};
    if (run && !run->pFiles) {
        delete run;
        return nullptr;
    }
    return run;
}

int32_t TS_SplitRun_ProtectInput(TS_SplitRun* run, const char* path) {
    if (!run || !path) return -1;
    struct stat st;
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    rivulet::writtenFilesAdd(run->pFiles, st, rivulet::kFileProtected);
    return 0;
}

int32_t TS_SplitRun_Holds(const TS_SplitRun* run, const char* path) {
    if (!run || !path) return -1;
    struct stat st;
    return ::stat(path, &st) == 0 && rivulet::writtenFilesHas(run->pFiles, st) ? 1 : 0;
}

void TS_SplitRun_Close(TS_SplitRun* run) {
    if (!run) return;
    rivulet::writtenFilesDestroy(run->pFiles);
    delete run;
}

namespace rivulet {

WrittenFiles* runFiles(TS_SplitRun* run) { return run ? run->pFiles : nullptr; }

}  // namespace rivulet
