// The output files of a driver that writes several: the splitter's one file
// per program, the PMT-change writer's one file per PMT. Files are numbered
// by the driver's own table; opening reports its failure with the message
// users see, and closing all of them reports the first failure.
#ifndef RIVULET_OUTPUT_SET_H
#define RIVULET_OUTPUT_SET_H

#include <cstddef>
#include <cstdint>

#include "ts/output/output_file.h"

namespace rivulet {

// The most files one driver keeps: a PMT-change split's distinct PMTs.
constexpr uint32_t kMaxOutputs = TS_PMT_SPLIT_MAX_ENTRIES;
static_assert(TS_SPLIT_MAX_ENTRIES <= kMaxOutputs);

struct OutputSet {
    OutputFile ltFile[kMaxOutputs];
    uint32_t u32Touched;  // files from this index on have not been used since the reset
    OutputQueue tQueue;   // files with queued bytes
    OutputPlace tPlace;   // how files are opened: the input, the run's files, the packet size
};

// Every file closed; the files' messages go to `log`.
void outputSetReset(OutputSet* set, int inputFD, WrittenFiles* written, const LogSink& log = LogSink{});
inline bool outputSetIsOpen(const OutputSet* set, uint32_t index) {
    return index < set->u32Touched && outputIsOpen(&set->ltFile[index]);
}
// Opens file `index` as `path`, for packets of `unit` bytes; false after
// "Error: Failed open <shownPath>." (a name that did not
// fit is shown as it was cut).
bool outputSetOpen(OutputSet* set, uint32_t index, const char* path, const char* shownPath, uint32_t unit);
// Queues bytes that stay put until the walk moves its buffer (a packet of
// it), or copies them (`copy`).
inline int32_t outputSetWrite(OutputSet* set, uint32_t index, const uint8_t* data, uint32_t size, bool copy) {
    if (index >= set->u32Touched) return 0;
    OutputFile* file = &set->ltFile[index];
    return copy ? outputWriteCopy(file, data, size) : outputWrite(file, data, size);
}

// File `from` becomes file `to` (which is closed), its queued bytes written
// first; `from` is then closed, free for another file.
void outputSetMove(OutputSet* set, uint32_t from, uint32_t to);

// Closes files 0 to count - 1; 0, or the first failure.
int32_t outputSetCloseAll(OutputSet* set, uint32_t count);

}  // namespace rivulet

#endif
