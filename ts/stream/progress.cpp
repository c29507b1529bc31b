// The progress hook of the file walks.
#include "ts/stream/progress.h"

namespace {

TS_ProgressCallback g_progressCallback = nullptr;
void* g_progressUser = nullptr;

}  // namespace

void TS_SetProgressCallback(TS_ProgressCallback callback, void* pUser) {
    g_progressCallback = callback;
    g_progressUser = pUser;
}

namespace rivulet {

void reportProgress(uint64_t done, uint64_t total) {
    if (g_progressCallback) g_progressCallback(done, total, g_progressUser);
}

}  // namespace rivulet
