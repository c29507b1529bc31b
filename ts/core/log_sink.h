// Where a run's messages go: the sink its caller gave, or standard error.
// Every context that can say something holds the run's LogSink, so that two
// runs side by side each tell their own caller.
#ifndef RIVULET_LOG_SINK_H
#define RIVULET_LOG_SINK_H

#include <cstdint>

#include "rivulet/common.h"

namespace rivulet {

struct LogSink {
    TS_LogSink pfLog = nullptr;  // null: standard error
    void* pUser = nullptr;
};

// Formats one whole message (every line of it) into a buffer on the stack
// and hands it to the sink in one call. On standard error the text is
// written as formatted, however long; a sink gets at most TS_LOG_TEXT_MAX
// bytes of it.
void logMessage(const LogSink& sink, int32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));

}  // namespace rivulet

#endif
