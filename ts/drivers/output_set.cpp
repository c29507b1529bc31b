#include "ts/drivers/output_set.h"

#include <cstdio>
#include <cstring>

namespace rivulet {

// Files are reset as they come into use, so that a set costs nothing for
// the files a run never opens.
void outputSetReset(OutputSet* set, int inputFD) {
    set->u32Touched = 0;
    set->inputFD = inputFD;
}

bool outputSetOpen(OutputSet* set, uint32_t index, const char* path, const char* shownPath) {
    for (; set->u32Touched <= index; ++set->u32Touched) outputReset(&set->ltFile[set->u32Touched]);
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
    for (uint32_t i = 0; i < count && i < set->u32Touched; ++i) {
        int32_t closed = outputClose(&set->ltFile[i]);
        if (status == 0) status = closed;
    }
    return status;
}

}  // namespace rivulet
