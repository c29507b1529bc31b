#include "ts/core/log_sink.h"

#include <cstdarg>
#include <cstdio>

namespace rivulet {

void logMessage(const LogSink& sink, int32_t level, const char* format, ...) {
    char text[TS_LOG_TEXT_MAX + 1];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0) text[0] = '\0';
    const bool cut = length >= int(sizeof text);
    if (sink.pfLog) {
        if (cut) text[TS_LOG_TEXT_MAX - 1] = '\n';
        sink.pfLog(sink.pUser, level, text);
    } else if (cut) {
        std::vfprintf(stderr, format, again);  // a path longer than the buffer is still shown whole
    } else {
        std::fputs(text, stderr);
    }
    va_end(again);
}

}  // namespace rivulet
