// What the file split needs of the splitter beyond its public interface:
// reading a file straight into the splitter's walk (no copy), and ending
// the run with the statuses and messages of a file.
#ifndef RIVULET_SPLITTER_H
#define RIVULET_SPLITTER_H

#include "rivulet/ts.h"
#include "ts/stream/packet_walk.h"

namespace rivulet {

// TS_Splitter_Open, with the status the file split returns when it fails.
TS_Splitter* splitterCreate(const char* basePath, const TS_SplitOptions* options, int32_t* status);
// Reads the input open as `fd` through the splitter; outputs never overwrite it.
WalkEnd splitterReadFile(TS_Splitter* splitter, int fd);
// Reports how the input ended, closes every file; the run's status.
int32_t splitterFinish(TS_Splitter* splitter, WalkEnd end);
// What the legacy records (g_tPNSplitData, g_tData.tPAT, g_strString1/2)
// show of the run.
void splitterPublish(const TS_Splitter* splitter);
void splitterDestroy(TS_Splitter* splitter);

}  // namespace rivulet

#endif
