#include "ts/output/output_set.h"


namespace rivulet {

// Files are reset as they come into use, so that a set costs nothing for
// the files a run never opens.
void outputSetReset(OutputSet* set, int inputFD, WrittenFiles* written, const LogSink& log) {
    set->u32Touched = 0;
    outputQueueReset(&set->tQueue);
    set->tPlace = OutputPlace{inputFD, written, &set->tQueue, 0, log};
}

bool outputSetOpen(OutputSet* set, uint32_t index, const char* path, const char* shownPath, uint32_t unit) {
    for (; set->u32Touched <= index; ++set->u32Touched) outputReset(&set->ltFile[set->u32Touched]);
    set->tPlace.u32Unit = unit;
    if (path && outputOpen(&set->ltFile[index], path, set->tPlace) == OpenResult::Opened) return true;
    logMessage(set->tPlace.tLog, TS_LOG_ERROR, "Error: Failed open %s.\n", shownPath);
    return false;
}

void outputSetMove(OutputSet* set, uint32_t from, uint32_t to) {
    outputQueueFlush(&set->tQueue);
    for (; set->u32Touched <= to || set->u32Touched <= from; ++set->u32Touched) outputReset(&set->ltFile[set->u32Touched]);
    set->ltFile[to] = set->ltFile[from];
    outputReset(&set->ltFile[from]);
}

int32_t outputSetCloseAll(OutputSet* set, uint32_t count) {
    int32_t status = 0;
    for (uint32_t i = 0; i < count && i < set->u32Touched; ++i) {
        int32_t closed = outputClose(&set->ltFile[i]);
        if (status == 0) status = closed;
    }
    outputQueueReset(&set->tQueue);
    return status;
}

}  // namespace rivulet
