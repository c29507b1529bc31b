// Formatting, rate limiting and erasing of the progress line.
#include "app/progress/progress_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace rivulet {
namespace {

constexpr uint64_t kPercent = 100;

void writeAll(int fd, const char* text, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, text, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        length -= size_t(n);
    }
}

uint64_t percentOf(uint64_t done, uint64_t total) {
    if (done >= total) return kPercent;
    return uint64_t(double(done) * double(kPercent) / double(total));
}

size_t clampLength(int length, size_t size) {
    if (length < 0 || size == 0) return 0;
    return size_t(length) < size ? size_t(length) : size - 1;
}

}  // namespace

size_t progressFormat(char* buffer, size_t size, uint64_t done, uint64_t total, uint64_t elapsedNs) {
    int length = total > 0 ? std::snprintf(buffer, size, "%3u%%", unsigned(percentOf(done, total)))
                           : std::snprintf(buffer, size, " %llu MB",
                                           static_cast<unsigned long long>(done / kBytesPerMegabyte));
    size_t used = clampLength(length, size);
    if (elapsedNs == 0) return used;
    double seconds = double(elapsedNs) / double(kNanosecondsPerSecond);
    double rate = double(done) / double(kBytesPerMegabyte) / seconds;
    used += clampLength(std::snprintf(buffer + used, size - used, "  %.1f MB/s", rate), size - used);
    // Live input has no size: the time it has run says how far it is.
    if (total > 0) return used;
    return used + clampLength(std::snprintf(buffer + used, size - used, "  %.0f s", seconds), size - used);
}

void progressBegin(ProgressLine* line, int fd, uint64_t nowNs) {
    line->nFD = fd;
    line->u64StartNs = nowNs;
    line->u64LastDrawNs = nowNs;
    line->drawn = 0;
}

void progressUpdate(ProgressLine* line, uint64_t done, uint64_t total, uint64_t nowNs) {
    if (line->drawn && nowNs - line->u64LastDrawNs < kProgressIntervalNs) return;
    char text[kProgressTextSize + sizeof kProgressReturn];
    size_t length = progressFormat(text, kProgressTextSize, done, total, nowNs - line->u64StartNs);
    std::memcpy(text + length, kProgressReturn, sizeof kProgressReturn);
    writeAll(line->nFD, text, length + sizeof kProgressReturn - 1);
    line->u64LastDrawNs = nowNs;
    line->drawn = 1;
}

void progressErase(ProgressLine* line) {
    if (!line->drawn) return;
    writeAll(line->nFD, kProgressErase, sizeof kProgressErase - 1);
    line->drawn = 0;
}

}  // namespace rivulet
