#include "ts/input/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

int openInput(const char* path, const LogSink& log) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        logMessage(log, TS_LOG_ERROR, "Error: Failed open %s.\n  %s\n", TS_InputName(path), std::strerror(errno));
    }
    return fd;
}

void reportReadFailure(const char* path, int error, const LogSink& log) {
    if (error == 0) {
        logMessage(log, TS_LOG_ERROR, "Error: Failed read %s.\n", TS_InputName(path));
    } else {
        logMessage(log, TS_LOG_ERROR, "Error: Failed read %s.\n  %s\n", TS_InputName(path), std::strerror(error));
    }
}

void reportFolderFailure(const char* folder, const LogSink& log) {
    struct stat st;
    int error = ::stat(folder, &st) != 0 ? errno : ENOTDIR;
    logMessage(log, TS_LOG_ERROR, "Error: Failed open %s.\n  the output folder: %s\n", folder, std::strerror(error));
}

int32_t reportWalkEnd(WalkEnd end, const char* path, const WalkStats& stats, const LogSink& log) {
    // Bytes skipped in an input without a single packet are no news: the
    // error says what it is.
    const bool noStream = end == WalkEnd::EndOfInput && stats.u64Packets == 0;
    if (stats.u64Skipped > 0 && !noStream) {
        logMessage(log, TS_LOG_WARNING, "Warning: %llu bytes without packet sync skipped.\n",
                   static_cast<unsigned long long>(stats.u64Skipped));
    }
    switch (end) {
    case WalkEnd::ReadError:
        if (stats.nReadError == kInputShrank) {
            logMessage(log, TS_LOG_ERROR, "Error: %s shrank while being read.\n", TS_InputName(path));
        } else {
            reportReadFailure(path, stats.nReadError, log);
        }
        return TS_ERR_READ;
    case WalkEnd::Interrupted:
        // A live input stopped before it delivered a byte is no stream;
        // bytes a stop kept from being walked may have been one.
        if (stats.u64Received == 0) {
            logMessage(log, TS_LOG_ERROR, "Error: No transport stream packets in %s.\n", TS_InputName(path));
        } else {
            logMessage(log, TS_LOG_INTERRUPTED, "Interrupted: outputs hold the input up to byte %llu.\n",
                       static_cast<unsigned long long>(stats.u64End));
        }
        return TS_ERR_INTERRUPTED;
    case WalkEnd::EndOfInput:
        if (stats.u64Packets > 0) return 0;
        logMessage(log, TS_LOG_ERROR, "Error: No transport stream packets in %s.\n", TS_InputName(path));
        return TS_ERR_NO_PACKETS;
    case WalkEnd::Stopped:
        break;
    }
    return 0;
}

int32_t reportDumpEnd(WalkEnd end, const char* path, const WalkStats& stats, const LogSink& log) {
    if (end != WalkEnd::EndOfInput || stats.u64Packets > 0) return reportWalkEnd(end, path, stats, log);
    logMessage(log, TS_LOG_WARNING, "Warning: no transport stream packets in %s.\n", TS_InputName(path));
    return 0;
}

void warnNoPAT(const char* path, const LogSink& log) {
    logMessage(log, TS_LOG_WARNING, "Warning: no PAT in %s; no file written.\n", TS_InputName(path));
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
