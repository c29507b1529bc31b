// The bitrate chart of a check: one line per program, its bitrate over
// time, each continuity error marked on the line of every program whose
// PIDs name its PID (as the figures sum them), as one self-contained SVG.
#ifndef RIVULET_CHECK_CHART_H
#define RIVULET_CHECK_CHART_H

#include <string>
#include <vector>

#include "rivulet/ts.h"

namespace rivulet::tool {

// The points the check hands out: each program's bytes, and every
// continuity error with its PID, put to programs once the check has ended.
struct ChartPoints {
    std::vector<std::vector<TS_CheckSample>> bytes;  // by program index
    std::vector<TS_CheckSample> errors;
};

// A TS_CheckSampleCallback that gathers into a ChartPoints.
void gatherPoint(const TS_CheckSample* sample, void* points);

// The chart of the input `name` (its folders are left out).
std::string chartSVG(const TS_CheckResult& result, const ChartPoints& points, const std::string& name);

}  // namespace rivulet::tool

#endif
