#include "ts/section/dvb_time.h"

namespace rivulet {
namespace {

bool isBCD(uint8_t value, uint8_t highest) {
    return (value >> 4) <= 9 && (value & 0x0F) <= 9 && (value >> 4) * 10 + (value & 0x0F) <= highest;
}

int64_t valueOf(uint8_t bcd) { return int64_t((bcd >> 4) * 10 + (bcd & 0x0F)); }

}  // namespace

int64_t secondsOfBCD(uint32_t hhmmss, uint8_t highestHours) {
    const uint8_t h = uint8_t(hhmmss >> 16), m = uint8_t(hhmmss >> 8), s = uint8_t(hhmmss);
    if (!isBCD(h, highestHours) || !isBCD(m, 59) || !isBCD(s, 59)) return -1;
    return valueOf(h) * 3600 + valueOf(m) * 60 + valueOf(s);
}

bool utcOfTime(const uint8_t* bytes, uint32_t size, int64_t* seconds) {
    constexpr uint32_t kUTCTimeSize = 5;
    constexpr uint8_t kHighestHour = 23;
    if (size < kUTCTimeSize) return false;
    const uint16_t mjd = uint16_t(bytes[0] << 8 | bytes[1]);
    const int64_t time = secondsOfBCD(uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 8 | bytes[4], kHighestHour);
    if (mjd == kUndefinedDate || time < 0) return false;
    *seconds = (int64_t(mjd) - kUnixEpochMJD) * 86400 + time;
    return true;
}

}  // namespace rivulet
