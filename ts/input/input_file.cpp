#include "ts/input/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

constexpr const char* kStandardInputName = "standard input";

}  // namespace

const char* TS_InputName(const char* path) {
    if (!path) return "";
    return std::strcmp(path, "-") == 0 || std::strcmp(path, "/dev/stdin") == 0 ? kStandardInputName : path;
}

namespace rivulet {

int openInput(const char* path) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) std::fprintf(stderr, "Error: Failed open %s.\n  %s\n", TS_InputName(path), std::strerror(errno));
    return fd;
}

void reportReadFailure(const char* path, int error) {
    std::fprintf(stderr, "Error: Failed read %s.\n", TS_InputName(path));
    if (error != 0) std::fprintf(stderr, "  %s\n", std::strerror(error));
}

void reportFolderFailure(const char* folder) {
    struct stat st;
    int error = ::stat(folder, &st) != 0 ? errno : ENOTDIR;
    std::fprintf(stderr, "Error: Failed open %s.\n  the output folder: %s\n", folder, std::strerror(error));
}

int32_t reportWalkEnd(WalkEnd end, const char* path, const WalkStats& stats) {
    // Bytes skipped in an input without a single packet are no news: the
    // error says what it is.
    const bool noStream = end == WalkEnd::EndOfInput && stats.u64Packets == 0;
    if (stats.u64Skipped > 0 && !noStream) {
        std::fprintf(stderr, "Warning: %llu bytes without packet sync skipped.\n",
                     static_cast<unsigned long long>(stats.u64Skipped));
    }
    switch (end) {
    case WalkEnd::ReadError:
        reportReadFailure(path, stats.nReadError);
        return TS_ERR_READ;
    case WalkEnd::Interrupted:
        // A live input stopped before it delivered a byte is no stream;
        // bytes a stop kept from being walked may have been one.
        if (stats.u64Received == 0) {
            std::fprintf(stderr, "Error: No transport stream packets in %s.\n", TS_InputName(path));
        } else {
            std::fprintf(stderr, "Interrupted: outputs hold the input up to byte %llu.\n",
                         static_cast<unsigned long long>(stats.u64End));
        }
        return TS_ERR_INTERRUPTED;
    case WalkEnd::EndOfInput:
        if (stats.u64Packets > 0) return 0;
        std::fprintf(stderr, "Error: No transport stream packets in %s.\n", TS_InputName(path));
        return TS_ERR_NO_PACKETS;
    case WalkEnd::Stopped:
        break;
    }
    return 0;
}

int32_t reportDumpEnd(WalkEnd end, const char* path, const WalkStats& stats) {
    if (end != WalkEnd::EndOfInput || stats.u64Packets > 0) return reportWalkEnd(end, path, stats);
    std::fprintf(stderr, "Warning: no transport stream packets in %s.\n", TS_InputName(path));
    return 0;
}

void warnNoPAT(const char* path) {
    std::fprintf(stderr, "Warning: no PAT in %s; no file written.\n", TS_InputName(path));
}

uint64_t monotonicMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

void closeInput(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace rivulet
