// Text dump of a PCR: the 33-bit base both as a count of 90 kHz ticks and as
// a clock time (hours reach 26 at most), then reserved bits and extension.
#include <cstdio>

#include "rivulet/tables.h"
#include "ts/core/name_table.h"

namespace {

constexpr uint64_t kTicksPerMillisecond = 90;
constexpr uint64_t kTicksPerSecond = 90000;
constexpr uint64_t kTicksPerMinute = kTicksPerSecond * 60;
constexpr uint64_t kTicksPerHour = kTicksPerMinute * 60;

struct ClockTime {
    int hours;
    int minutes;
    int seconds;
    int milliseconds;
};

ClockTime toClockTime(uint64_t ticks) {
    ClockTime time;
    time.hours = int(ticks / kTicksPerHour);
    ticks %= kTicksPerHour;
    time.minutes = int(ticks / kTicksPerMinute);
    ticks %= kTicksPerMinute;
    time.seconds = int(ticks / kTicksPerSecond);
    ticks %= kTicksPerSecond;
    time.milliseconds = int(ticks / kTicksPerMillisecond);
    return time;
}

}  // namespace

int32_t TS_PCR_Print(const TS_PCR* pcr) {
    if (!pcr) return -1;
    char name[rivulet::kNameBufferSize];
    TS_Section_TagToString(name, pcr->leading_byte);
    uint64_t base = pcr->program_clock_reference_base;
    ClockTime time = toClockTime(base);
    std::printf("[PCR] TI:0x%02X(%s) PB:%lld(%02d:%02d:%02d.%03d) R:%d PE:%d\n", pcr->leading_byte,
                name, static_cast<long long>(base), time.hours, time.minutes, time.seconds,
                time.milliseconds, pcr->PCR_reserved,
                int32_t(pcr->program_clock_reference_extension));
    return 0;
}
