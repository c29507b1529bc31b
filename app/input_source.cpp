#include "app/input_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace rivulet {
namespace {

constexpr size_t kFollowChunkSize = 1 << 20;

// A followed file, chunk by chunk, until it has not grown for its idle
// time, it shrinks (or is cut and written again), or a signal stops it.
SourceEnd feedFollowed(InputSource& source, TS_Splitter* splitter) {
    std::vector<uint8_t> chunk(kFollowChunkSize);
    for (;;) {
        size_t n = 0;
        FollowRead read = followRead(&source.reader, chunk.data(), chunk.size(), &n);
        if (read == FollowRead::Data) {
            if (TS_Splitter_Feed(splitter, chunk.data(), n) != 0) return SourceEnd::End;
            continue;
        }
        if (read == FollowRead::Shrank) {
            std::fprintf(stderr, "Error: %s shrank while being followed.\n", source.shown);
            return SourceEnd::Failed;
        }
        if (read == FollowRead::Failed) {
            std::fprintf(stderr, "Error: Failed read %s.\n  %s\n", source.shown, std::strerror(errno));
            return SourceEnd::Failed;
        }
        return SourceEnd::End;  // the end, or a stop the close reports
    }
}

// Fed to its end: closed (the files end where the input did), or, after a
// read failure, abandoned.
int32_t feedAndClose(InputSource& source, TS_Splitter* splitter, const SplitSteps& steps) {
    const SourceEnd end = feedSource(source, splitter);
    if (steps.fed) steps.fed(steps.user);
    if (end == SourceEnd::End) return TS_Splitter_Close(splitter);
    TS_Splitter_Abandon(splitter);
    return TS_ERR_READ;
}

}  // namespace

bool openSource(InputSource* source, const char* input, bool follow, uint32_t followSeconds) {
    InputSource& s = *source;
    s.name = input;
    s.shown = TS_InputName(input);
    s.standardInput = std::strcmp(input, kStandardInput) == 0;
    s.fd = s.standardInput ? STDIN_FILENO : ::open(input, O_RDONLY | O_CLOEXEC);
    if (s.fd < 0) {
        std::fprintf(stderr, "Error: Failed open %s.\n  %s\n", input, std::strerror(errno));
        return false;
    }
    s.live = !isRegularFile(s.fd);
    s.followed = follow && !s.live;
    followStart(&s.reader, s.fd, s.standardInput ? nullptr : input, s.followed, followSeconds);
    return true;
}

void closeSource(InputSource* source) {
    if (!source->standardInput && source->fd >= 0) ::close(source->fd);
    source->fd = -1;
}

SourceEnd feedSource(InputSource& source, TS_Splitter* splitter) {
    if (source.followed) return feedFollowed(source, splitter);
    TS_Splitter_FeedFrom(splitter, source.fd);
    return SourceEnd::End;
}

int32_t splitInput(const char* input, const TS_SplitOptions& options, bool follow, uint32_t followSeconds,
                   SplitReportFile& report, const SplitSteps& steps) {
    int32_t status = 0;
    TS_Splitter* splitter = TS_Splitter_OpenWithStatus(input, &options, &status);
    if (!splitter) return status;
    InputSource source;
    if (!openSource(&source, input, follow, followSeconds)) {
        TS_Splitter_Abandon(splitter);
        return TS_ERR_OPEN_INPUT;
    }
    if (!report.attach(splitter, input)) {
        TS_Splitter_Abandon(splitter);
        status = TS_ERR_NO_MEMORY;
    } else if (steps.opened && !steps.opened(steps.user, splitter, source, &status)) {
        TS_Splitter_Abandon(splitter);
    } else {
        status = feedAndClose(source, splitter, steps);
    }
    report.collect();
    closeSource(&source);
    return status;
}

}  // namespace rivulet
