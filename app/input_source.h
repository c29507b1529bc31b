// One input of the command: a regular file, standard input ("-"), a FIFO or
// a device, or a regular file followed as a recorder writes it. It is
// opened once, and whether it is live (its bytes come once, as they arrive,
// and cannot be read again) is decided once, here.
#ifndef RIVULET_INPUT_SOURCE_H
#define RIVULET_INPUT_SOURCE_H

#include <cstdint>

#include "app/follow.h"
#include "app/report.h"
#include "rivulet/ts.h"

namespace rivulet {

// The input name that stands for standard input, and the base name of its files.
constexpr const char* kStandardInput = "-";
constexpr const char* kStandardInputBase = "stdin";

struct InputSource {
    const char* name = nullptr;   // as given
    const char* shown = nullptr;  // as messages name it
    int fd = -1;
    bool standardInput = false;
    bool live = false;            // not a regular file
    bool followed = false;        // a regular file read on as it grows
    FollowedInput reader{};
};

// Opens `input`, to be followed as it grows when `follow` (a regular file
// only) until it has been idle `followSeconds`; false after "Error: Failed
// open ...".
bool openSource(InputSource* source, const char* input, bool follow, uint32_t followSeconds);
void closeSource(InputSource* source);

// How feeding a splitter ended: the end of the input (or a stop or a
// failure the splitter's close reports), or a read failure or a followed
// file cut short, said here.
enum class SourceEnd { End, Failed };

// Feeds the splitter everything the source gives: a file or live input
// straight into the splitter's buffer, a followed file chunk by chunk.
SourceEnd feedSource(InputSource& source, TS_Splitter* splitter);

// What a split of one input adds to the plain steps: called once the
// splitter is open (false: no split, `status` said why), and once all is
// fed, before the splitter closes. Null calls do nothing.
struct SplitSteps {
    bool (*opened)(void* user, TS_Splitter* splitter, const InputSource& source, int32_t* status) = nullptr;
    void (*fed)(void* user) = nullptr;
    void* user = nullptr;
};

// The split of one input: the splitter opened first, so that options that
// cannot be met fail before any input is read; then the input, the report
// attached, everything fed, the splitter closed. Its status, as
// TS_Splitter_Close gives it (TS_ERR_READ after a read failure).
int32_t splitInput(const char* input, const TS_SplitOptions& options, bool follow, uint32_t followSeconds,
                   SplitReportFile& report, const SplitSteps& steps);

}  // namespace rivulet

#endif
