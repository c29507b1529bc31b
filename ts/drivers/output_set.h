// The output files of a driver that writes several: the splitter's one file
// per program, the PMT-change writer's one file per PMT. Files are numbered
// by the driver's own table; opening reports its failure with the message
// users see, and closing all of them reports the first failure.
#ifndef RIVULET_OUTPUT_SET_H
#define RIVULET_OUTPUT_SET_H

#include <cstddef>
#include <cstdint>

#include "ts/drivers/output_file.h"

namespace rivulet {

// The most files one driver keeps: a PMT-change split's distinct PMTs.
constexpr uint32_t kMaxOutputs = TS_PMT_SPLIT_MAX_ENTRIES;
static_assert(TS_SPLIT_MAX_ENTRIES <= kMaxOutputs);

struct OutputSet {
    OutputFile ltFile[kMaxOutputs];
    uint32_t u32Touched;  // files from this index on have not been used since the reset
    int inputFD;          // never opened as an output
};

// Every file closed; `inputFD` is the driver's input.
void outputSetReset(OutputSet* set, int inputFD);
inline bool outputSetIsOpen(const OutputSet* set, uint32_t index) {
    return index < set->u32Touched && outputIsOpen(&set->ltFile[index]);
}
// Opens file `index` as `path`; false after "Error: Failed open <shownPath>."
// on standard error (a name that did not fit is shown as it was cut).
bool outputSetOpen(OutputSet* set, uint32_t index, const char* path, const char* shownPath);
// Queues bytes that stay put until the stream buffer is refilled (a packet
// of it), or copies them (`copy`).
inline int32_t outputSetWrite(OutputSet* set, uint32_t index, const uint8_t* data, uint32_t size, bool copy) {
    if (index >= set->u32Touched) return 0;
    OutputFile* file = &set->ltFile[index];
    return copy ? outputWriteCopy(file, data, size) : outputWrite(file, data, size);
}
// Whether outputs named from `path` with suffixes of up to `longestSuffix`
// characters fit the name buffers; false after "Error: File name too long.".
bool outputNamesFit(const char* path, size_t longestSuffix);

// The stem of every output name: the input's path without its extension,
// or, with a folder, the input's file name so in that folder. The caller has
// checked with outputNamesFit that it fits.
void outputStem(char* stem, const char* path, const char* folder);
bool isFolder(const char* path);

// Closes files 0 to count - 1; 0, or the first failure.
int32_t outputSetCloseAll(OutputSet* set, uint32_t count);

}  // namespace rivulet

#endif
