// A split that reads the service information as it goes: programs chosen by
// service name or type, files named from a template. The service watch
// reads the splitter's own tables. A program the choice or the name waits
// for is held by the splitter (its packets, not the input) from the PAT
// that first lists it until its service information settles, or for 10 s
// of stream time (of the wall clock on live or followed input), or while
// all held programs keep less than 64 MiB; then it is chosen, and its file
// is byte for byte the file its program number alone gives, or let go. A
// program named or renamed after it was let go is chosen from the next PAT
// on, with a warning.
#ifndef RIVULET_WATCHED_SPLIT_H
#define RIVULET_WATCHED_SPLIT_H

#include <cstdint>
#include <string>
#include <vector>

#include "app/input_source.h"
#include "app/output_template.h"
#include "app/report.h"
#include "rivulet/ts.h"

namespace rivulet {

struct ServiceChoice {
    std::vector<std::string> services;  // -s: service names or virtual channel numbers
    uint32_t u32Types;                  // --type: bit 1 << TS_SERVICE_... for each type asked for; 0: none
    const OutputTemplate* pName;        // -n: null for the default names
    bool follow;                        // --follow: a regular file is followed as it grows
    uint32_t u32FollowSeconds;
};

// Whether a split of `choice` needs the service information.
bool needsWatch(const ServiceChoice& choice);

// Splits `input` with `options`, whose program list the choice extends;
// the splitter fills `report`. A status as TS_Splitter_Close gives;
// TS_ERR_NO_PROGRAM when a service asked for is in no PAT, after "Error: no
// service "NAME" in <input>.".
int32_t splitWatched(const char* input, const TS_SplitOptions& options, const ServiceChoice& choice,
                     SplitReportFile& report);

}  // namespace rivulet

#endif
