// The exit statuses of rivulet-ts.
#ifndef RIVULET_TS_TOOL_EXIT_STATUS_H
#define RIVULET_TS_TOOL_EXIT_STATUS_H

namespace rivulet::tool {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the driver failed; the message is on standard error
constexpr int kExitUsage = 2;

}  // namespace rivulet::tool

#endif
