// One line on a terminal that tells how far a file walk has come: the share
// of the input read and the reading speed, redrawn in place.
#ifndef RIVULET_PROGRESS_LINE_H
#define RIVULET_PROGRESS_LINE_H

#include <cstddef>
#include <cstdint>

namespace rivulet {

constexpr uint64_t kNanosecondsPerSecond = 1000000000;
constexpr uint64_t kProgressIntervalNs = kNanosecondsPerSecond / 10;  // at most ten updates a second
constexpr uint64_t kBytesPerMegabyte = 1000000;
constexpr size_t kProgressTextSize = 64;

// Ends an update: the cursor goes back to the line's start, so that a
// message printed while the walk goes on overwrites the line.
constexpr char kProgressReturn[] = "\r";
// Erases the line the cursor stands on.
constexpr char kProgressErase[] = "\r\033[K";

struct ProgressLine {
    int nFD;                 // where the line is drawn
    uint64_t u64StartNs;     // when the walk began
    uint64_t u64LastDrawNs;  // when the line was last drawn
    uint8_t drawn;           // 1 once a line is on the terminal
};

// The text of one update: " 42%  123.4 MB/s", or " 1234 MB  123.4 MB/s" when
// the input's size is unknown (total 0); the speed is left out while no time
// has passed. Megabytes are 10^6 bytes. Returns the text's length.
size_t progressFormat(char* buffer, size_t size, uint64_t done, uint64_t total, uint64_t elapsedNs);

void progressBegin(ProgressLine* line, int fd, uint64_t nowNs);
// Draws the line for `done` of `total` bytes, unless the previous update was
// drawn less than kProgressIntervalNs before `nowNs`.
void progressUpdate(ProgressLine* line, uint64_t done, uint64_t total, uint64_t nowNs);
// Erases the line when one was drawn.
void progressErase(ProgressLine* line);

}  // namespace rivulet

#endif
