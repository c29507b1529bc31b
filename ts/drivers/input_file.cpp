#include "ts/drivers/input_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace rivulet {

int openInput(const char* path) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) std::fprintf(stderr, "Error: Failed open %s.\n", path);
    return fd;
}

int32_t reportWalkEnd(WalkEnd end, const char* path) {
    if (g_tPacketFormat.u64Skipped > 0) {
        std::fprintf(stderr, "Warning: %llu bytes without packet sync skipped.\n",
                     static_cast<unsigned long long>(g_tPacketFormat.u64Skipped));
    }
    if (end != WalkEnd::ReadError) return 0;
    std::fprintf(stderr, "Error: Failed read %s.\n", path);
    return TS_ERR_READ;
}

void closeInput(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace rivulet
