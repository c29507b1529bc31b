// Turning a driver's status into the tool's exit status.
#ifndef RIVULET_TS_TOOL_DRIVER_STATUS_H
#define RIVULET_TS_TOOL_DRIVER_STATUS_H

#include <cstdint>
#include <span>

namespace rivulet::tool {

// A failure a driver reports by its status alone, with the message the tool
// prints for it as "rivulet-ts: <input>: <message>".
struct SilentFailure {
    int32_t status;
    const char* message;
};

// kExitOk for a status of 0 or more, else kExitFailed, after printing the
// message of `silent` that matches the status (the driver has printed the
// others itself).
int exitStatusOf(int32_t status, const char* path, std::span<const SilentFailure> silent = {});

}  // namespace rivulet::tool

#endif
