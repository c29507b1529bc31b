// Rivulet toolkit: the file split's historical interface. TS_ProgramSplitFile
// and the records and globals that callers of its first versions read after
// it returns: the split table, the stream contexts, the read block and the
// name buffers. They are kept as they were, for those callers; no driver
// keeps its working state in them, and new code wants the split engine
// (rivulet/split.h), whose runs share nothing.
#ifndef RIVULET_FILE_SPLIT_H
#define RIVULET_FILE_SPLIT_H

#include "rivulet/stream_walk.h"

// Records kept for callers of the documented interface. No driver keeps its
// working state in them: every run has its own. The stream dump leaves its
// last tables in g_tData (and the file split its last PAT); the program list
// and the PMT-change drivers leave their last PAT in g_tSimpleData.tPAT.
// g_lu8Buffer is a block a caller may read into before TS_AddStream; nothing
// in the toolkit uses it.
extern uint8_t g_lu8Buffer[TS_APPEND_BLOCK_SIZE];
extern TS_Data g_tData;
extern TS_SimpleData g_tSimpleData;

// The output stem and the output path last formed by the file split, when it
// returns (the names are historical). Other runs keep theirs to themselves.
extern char g_strString1[TS_NAME_BUFFER_SIZE];
extern char g_strString2[TS_NAME_BUFFER_SIZE];

int32_t GetBaseFileName(char* dst, const char* src);

struct TS_PNSplitEntry {
    uint16_t u16ProgramNumber;
    uint16_t u16PMTPID;
    uint16_t u16Duplicate;
    uint64_t u64Revision;   // counts the PATs the program was missing from; never wraps
    int32_t nFD;            // the file's descriptor while open, else -1; for reading only
};

struct TS_PNSplitData {
    uint16_t u16Count;
    TS_PNSplitEntry ltEntry[TS_SPLIT_MAX_ENTRIES];
};

extern TS_PNSplitData g_tPNSplitData;

// Splits `path` into one file per program beside it. Statuses: the table of
// driver results in rivulet/common.h.
int32_t TS_ProgramSplitFile(const char* path);

#endif  // RIVULET_FILE_SPLIT_H
