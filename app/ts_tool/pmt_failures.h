// The failures that the PMT-change drivers report by their status alone.
#ifndef RIVULET_TS_TOOL_PMT_FAILURES_H
#define RIVULET_TS_TOOL_PMT_FAILURES_H

#include "app/ts_tool/driver_status.h"
#include "rivulet/ts.h"

namespace rivulet::tool {

inline constexpr SilentFailure kPMTDriverFailures[] = {
    {TS_ERR_NOT_SINGLE_PROGRAM, "not a single-program stream: a PAT lists more than one program."},
};

}  // namespace rivulet::tool

#endif
