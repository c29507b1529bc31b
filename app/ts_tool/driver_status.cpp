// Exit statuses from driver statuses.
#include "app/ts_tool/driver_status.h"

#include <cstdio>

#include "app/ts_tool/exit_status.h"

namespace rivulet::tool {

int exitStatusOf(int32_t status, const char* path, std::span<const SilentFailure> silent) {
    if (status >= 0) return kExitOk;
    for (const SilentFailure& failure : silent) {
        if (failure.status != status) continue;
        std::fprintf(stderr, "rivulet-ts: %s: %s\n", path, failure.message);
    }
    return kExitFailed;
}

}  // namespace rivulet::tool
