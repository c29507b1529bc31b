// The bitrate chart of a check: one line per program, its bitrate over
// time, each continuity error marked on its line, as one self-contained SVG.
#ifndef RIVULET_CHECK_CHART_H
#define RIVULET_CHECK_CHART_H

#include <string>
#include <vector>

#include "rivulet/ts.h"

namespace rivulet::tool {

// The points the check hands out, gathered per program.
struct ChartPoints {
    struct Line {
        std::vector<TS_CheckSample> bytes;
        std::vector<TS_CheckSample> errors;
    };
    std::vector<Line> lines;  // by program index
    Line outside;             // the errors on PIDs of no program
};

// A TS_CheckSampleCallback that gathers into a ChartPoints.
void gatherPoint(const TS_CheckSample* sample, void* points);

// The chart of the input `name`.
std::string chartSVG(const TS_CheckResult& result, const ChartPoints& points, const std::string& name);

}  // namespace rivulet::tool

#endif
