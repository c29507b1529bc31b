#include "ts/output/output_set.h"

#include <cerrno>
#include <cstring>
#include <new>

namespace rivulet {
namespace {

// File `index`'s record, made (closed) when first asked for; null when
// memory is short.
OutputFile* fileRecord(OutputSet* set, uint32_t index) {
    if (!growTo(set->lpFile, index + 1)) return nullptr;
    OutputFile*& file = set->lpFile.p[index];
    if (!file) {
        file = new (std::nothrow) OutputFile{};
        if (file) outputReset(file);
    }
    return file;
}

}  // namespace

// Records are reset rather than freed, so that a run of many revisions
// costs each file's record once.
void outputSetReset(OutputSet* set, int inputFD, WrittenFiles* written, const LogSink& log) {
    for (uint32_t i = 0; i < set->lpFile.u32Size; ++i) {
        if (set->lpFile.p[i]) outputReset(set->lpFile.p[i]);
    }
    outputQueueReset(&set->tQueue);
    set->tPlace = OutputPlace{inputFD, written, &set->tQueue, 0, log};
}

void outputSetFree(OutputSet* set) {
    for (uint32_t i = 0; i < set->lpFile.u32Size; ++i) {
        if (set->lpFile.p[i]) outputFree(set->lpFile.p[i]);
        delete set->lpFile.p[i];
    }
    release(set->lpFile);
}

bool outputSetOpen(OutputSet* set, uint32_t index, const char* path, const char* shownPath, uint32_t unit) {
    set->tPlace.u32Unit = unit;
    OutputFile* file = fileRecord(set, index);
    if (file && path && outputOpen(file, path, set->tPlace) == OpenResult::Opened) return true;
    if (file) logMessage(set->tPlace.tLog, TS_LOG_ERROR, "Error: Failed open %s.\n", shownPath);
    if (!file) logMessage(set->tPlace.tLog, TS_LOG_ERROR, "Error: Failed open %s.\n  %s\n", shownPath, std::strerror(ENOMEM));
    return false;
}

bool outputSetMove(OutputSet* set, uint32_t from, uint32_t to) {
    outputQueueFlush(&set->tQueue);
    if (!fileRecord(set, to) || !fileRecord(set, from)) return false;
    OutputFile* closed = set->lpFile.p[to];
    set->lpFile.p[to] = set->lpFile.p[from];
    set->lpFile.p[from] = closed;
    outputReset(closed);
    return true;
}

int32_t outputSetCloseAll(OutputSet* set, uint32_t count) {
    int32_t status = 0;
    for (uint32_t i = 0; i < count && i < set->lpFile.u32Size; ++i) {
        if (!set->lpFile.p[i]) continue;
        int32_t closed = outputClose(set->lpFile.p[i]);
        if (status == 0) status = closed;
    }
    outputQueueReset(&set->tQueue);
    return status;
}

}  // namespace rivulet
