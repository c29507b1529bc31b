#include "ts/drivers/output_set.h"

#include <cstdio>
#include <cstring>

namespace rivulet {

void outputSetReset(OutputSet* set, int inputFD) {
    for (OutputFile& file : set->ltFile) outputReset(&file);
    set->inputFD = inputFD;
}

bool outputSetOpen(OutputSet* set, uint32_t index, const char* path, const char* shownPath) {
    if (path && outputOpen(&set->ltFile[index], path, set->inputFD) == OpenResult::Opened) return true;
    std::fprintf(stderr, "Error: Failed open %s.\n", shownPath);
    return false;
}

bool outputNamesFit(const char* path, size_t longestSuffix) {
    if (std::strlen(path) + longestSuffix < TS_NAME_BUFFER_SIZE) return true;
    std::fprintf(stderr, "Error: File name too long.\n");
    return false;
}

int32_t outputSetCloseAll(OutputSet* set, uint32_t count) {
    int32_t status = 0;
    for (uint32_t i = 0; i < count; ++i) {
        int32_t closed = outputClose(&set->ltFile[i]);
        if (status == 0) status = closed;
    }
    return status;
}

}  // namespace rivulet
