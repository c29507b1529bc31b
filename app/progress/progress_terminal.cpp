// Connects the progress line to the walk's progress hook, with a monotonic
// clock for the speed and the rate limit.
#include "app/progress/progress_terminal.h"

#include <time.h>
#include <unistd.h>

#include "app/progress/progress_line.h"
#include "rivulet/ts.h"

namespace rivulet {
namespace {

ProgressLine g_progressLine;

uint64_t monotonicNs() {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * kNanosecondsPerSecond + uint64_t(now.tv_nsec);
}

void onWalkProgress(uint64_t done, uint64_t total, void* user) {
    progressUpdate(static_cast<ProgressLine*>(user), done, total, monotonicNs());
}

}  // namespace

void progressStartOnTerminal() {
    if (!::isatty(STDERR_FILENO)) return;
    progressBegin(&g_progressLine, STDERR_FILENO, monotonicNs());
    TS_SetProgressCallback(onWalkProgress, &g_progressLine);
}

void progressStop() {
    TS_SetProgressCallback(nullptr, nullptr);
    progressErase(&g_progressLine);
}

}  // namespace rivulet
