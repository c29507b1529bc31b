// The file split: a splitter that reads its input file itself.
#include <cstdio>

#include "rivulet/file_split.h"
#include "rivulet/split.h"
#include "ts/input/input_file.h"
#include "ts/split/splitter.h"

using namespace rivulet;

TS_PNSplitData g_tPNSplitData;

namespace {

void publish(const TS_Splitter* splitter) {
    SplitterView view = splitterView(splitter);
    // The record holds the run's first TS_SPLIT_MAX_ENTRIES entries.
    const uint32_t count = view.u32Entries < TS_SPLIT_MAX_ENTRIES ? view.u32Entries : TS_SPLIT_MAX_ENTRIES;
    g_tPNSplitData.u16Count = uint16_t(count);
    for (uint32_t e = 0; e < count; ++e) g_tPNSplitData.ltEntry[e] = view.pEntries[e];
    g_tData.tPAT = *view.pPAT;
    std::snprintf(g_strString1, sizeof g_strString1, "%s", view.strStem);
    std::snprintf(g_strString2, sizeof g_strString2, "%s", view.strPath);
}

}  // namespace

int32_t TS_ProgramSplitFile(const char* path) {
    TS_SplitOptions everything{};
    return TS_ProgramSplitFileWith(path, &everything);
}

namespace {

int32_t splitWith(const char* path, const TS_SplitOptions* options) {
    int32_t status = 0;
    TS_Splitter* splitter = splitterCreate(path, options, &status);
    if (!splitter) return status;
    int inputFD = openInput(path, LogSink{options->pfLog, options->pLogUser});
    if (inputFD < 0) {
        splitterDestroy(splitter);
        return TS_ERR_OPEN_INPUT;
    }
    TS_Splitter_FeedFrom(splitter, inputFD);
    status = splitterClose(splitter);
    publish(splitter);
    splitterDestroy(splitter);
    closeInput(inputFD);
    return status;
}

}  // namespace

int32_t TS_ProgramSplitFileWith(const char* path, const TS_SplitOptions* options) {
    if (!path || !options) return -1;
    // A stable split of a regular file gathers its shapes first.
    TS_SplitOptions withShapes = *options;
    if (options->u8Stable && !options->pStreamShapes) {
        withShapes.pStreamShapes = TS_StreamShapes_Gather(path, options, nullptr);
    }
    const int32_t status = splitWith(path, &withShapes);
    if (withShapes.pStreamShapes != options->pStreamShapes) TS_StreamShapes_Free(withShapes.pStreamShapes);
    return status;
}
