// A split that reads the service information as it goes: programs chosen by
// service name or type, files named from a template. The service watch reads
// ahead (within kMaxHeldBytes and 10 s of stream time) while the PAT lists a
// program whose names or type have not come yet; then the split starts from
// the first byte (a file read again, live input from the bytes held) with
// the programs chosen, so that each file is byte for byte the file its
// program number alone gives, and the watch follows the splitter's own
// packets. A program named or renamed later is chosen from there on.
#ifndef RIVULET_WATCHED_SPLIT_H
#define RIVULET_WATCHED_SPLIT_H

#include <cstdint>
#include <string>
#include <vector>

#include "app/output_template.h"
#include "app/report.h"
#include "rivulet/ts.h"

namespace rivulet {

constexpr uint64_t kMaxHeldBytes = 64ull << 20;

struct ServiceChoice {
    std::vector<std::string> services;  // -s: service names or virtual channel numbers
    uint32_t u32Types;                  // --type: bit 1 << TS_SERVICE_... for each type asked for; 0: none
    const OutputTemplate* pName;        // -n: null for the default names
    bool follow;                        // --follow: a regular file is followed as it grows
    uint32_t u32FollowSeconds;
};

// Whether a split of `choice` needs the service information.
bool needsWatch(const ServiceChoice& choice);

// Splits the input open as `fd` (`input`, which also names the outputs)
// with `options`, whose program list the choice extends; the splitter fills
// `report` (the caller collects it). A status as TS_Splitter_Close gives; TS_ERR_NO_PROGRAM when a service asked
// for is in no PAT, after "Error: no service "NAME" in <input>.".
int32_t splitWatched(const char* input, int fd, const TS_SplitOptions& options,
                     const ServiceChoice& choice, SplitReportFile& report);

}  // namespace rivulet

#endif
