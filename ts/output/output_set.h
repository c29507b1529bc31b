// The output files of a driver that writes several: the splitter's one file
// per program, the PMT-change writer's one file per PMT. Files are numbered
// by the driver's own table, with no bound but memory (a file's record is
// made when it is first opened); opening reports its failure with the
// message users see, and closing all of them reports the first failure.
#ifndef RIVULET_OUTPUT_SET_H
#define RIVULET_OUTPUT_SET_H

#include <cstddef>
#include <cstdint>

#include "ts/core/growable.h"
#include "ts/output/output_file.h"

namespace rivulet {

struct OutputSet {
    Growable<OutputFile*> lpFile;  // file i, or null before its first open
    OutputQueue tQueue;            // files with queued bytes
    OutputPlace tPlace;            // how files are opened: the input, the run's files, the packet size
};

// Every file closed (a new set: zeroed, or as made with {}), the files'
// messages going to `log`; outputSetFree gives the memory back.
void outputSetReset(OutputSet* set, int inputFD, WrittenFiles* written, const LogSink& log = LogSink{});
void outputSetFree(OutputSet* set);
inline OutputFile* outputSetFile(const OutputSet* set, uint32_t index) {
    return index < set->lpFile.u32Size ? set->lpFile.p[index] : nullptr;
}
inline bool outputSetIsOpen(const OutputSet* set, uint32_t index) {
    const OutputFile* file = outputSetFile(set, index);
    return file && outputIsOpen(file);
}
// Bytes the kernel has taken for file `index` (0 for one never opened).
inline uint64_t outputSetWritten(const OutputSet* set, uint32_t index) {
    const OutputFile* file = outputSetFile(set, index);
    return file ? file->u64Written : 0;
}
// Opens file `index` as `path`, for packets of `unit` bytes; false after
// "Error: Failed open <shownPath>." (a name that did not fit is shown as it
// was cut; a record that memory cannot hold, with the system's reason below it).
bool outputSetOpen(OutputSet* set, uint32_t index, const char* path, const char* shownPath, uint32_t unit);
// Queues bytes that stay put until the walk moves its buffer (a packet of
// it), or copies them (`copy`).
inline int32_t outputSetWrite(OutputSet* set, uint32_t index, const uint8_t* data, uint32_t size, bool copy) {
    OutputFile* file = outputSetFile(set, index);
    if (!file) return 0;
    return copy ? outputWriteCopy(file, data, size) : outputWrite(file, data, size);
}

// File `from` becomes file `to` (which is closed), its queued bytes written
// first; `from` is then closed, free for another file. False when memory
// for `to`'s record is short (nothing moved).
bool outputSetMove(OutputSet* set, uint32_t from, uint32_t to);

// Closes files 0 to count - 1; 0, or the first failure.
int32_t outputSetCloseAll(OutputSet* set, uint32_t count);

}  // namespace rivulet

#endif
