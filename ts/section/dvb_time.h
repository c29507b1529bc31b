// Times as DVB and ISDB write them (EN 300 468 Annex C): a 16-bit Modified
// Julian Date and hours, minutes and seconds in BCD.
#ifndef RIVULET_DVB_TIME_H
#define RIVULET_DVB_TIME_H

#include <cstdint>

namespace rivulet {

constexpr uint16_t kUndefinedDate = 0xFFFF;
constexpr int64_t kUnixEpochMJD = 40587;  // 1970-01-01

// Seconds of hhmmss in BCD, or -1 when a digit is not BCD or a field is past
// its highest (hours up to `highestHours`).
int64_t secondsOfBCD(uint32_t hhmmss, uint8_t highestHours);

// The 40-bit UTC_time at `bytes` (MJD, then hhmmss), in seconds since
// 1970-01-01; false when fewer than 5 bytes are given, the date is
// undefined or a digit is not BCD.
bool utcOfTime(const uint8_t* bytes, uint32_t size, int64_t* seconds);

}  // namespace rivulet

#endif
