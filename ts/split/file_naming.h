// The names of a split's files: the namer's (made safe) or the default
// <base>_<program>_<duplicate>_<revision>[_<event_id>|_none], in the output
// folder, with "-2", "-3", ... before the extension when a file of the run
// (or, for a namer's name, the input) already has the name.
#ifndef RIVULET_FILE_NAMING_H
#define RIVULET_FILE_NAMING_H

#include <cstdint>

#include "rivulet/file_split.h"
#include "rivulet/split.h"
#include "ts/output/output_file.h"
#include "ts/split/output_stage.h"
#include "ts/stream/packet_format.h"

namespace rivulet {

constexpr uint32_t kTwinSlots = 1024;  // names whose next free number a run remembers

// The next number to try for a name, so that the thousandth file of one name
// does not try the 999 before it (by a hash of the name; a clash only costs
// tries, since every number is checked).
struct TwinMemo {
    uint64_t u64Name;
    uint32_t u32Next;
};

struct FileNaming {
    char strInput[kShownPathSize];      // the input as messages name it
    char strStem[TS_NAME_BUFFER_SIZE];  // the folder and base of every default output name
    uint32_t u32FolderLength;           // bytes of strStem up to its last '/'
    TS_OutputNamer pfNamer;
    void* pNamerUser;
    char strPath[TS_NAME_BUFFER_SIZE];  // the output path last formed
    TwinMemo ltTwin[kTwinSlots];
};

// Whether names of `basePath` (with the options' folder and base name) fit
// a path; sets up `naming` from them. False: the name is too long.
bool namingFits(const char* basePath, const TS_SplitOptions& options, const LogSink& log);
void namingSetUp(FileNaming& naming, const char* basePath, const TS_SplitOptions& options);

// Forms naming.strPath for `file`, a name no file written by the run (as
// `place` knows them) has. False when the path does not fit.
bool nameFile(FileNaming& naming, const OutputPlace& place, const PacketFormat& format, const FileToOpen& file);

}  // namespace rivulet

#endif
