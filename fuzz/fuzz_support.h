// What the fuzz targets share: the printers' output goes to /dev/null, fully
// buffered, so that printing costs little and shows nothing.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace rivulet::fuzz {

inline void discardStdout() {
    int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, 1);
        ::close(null);
    }
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
}

}  // namespace rivulet::fuzz
