#include "ts/section/eit_present.h"

#include <cstdio>

namespace rivulet {
namespace {

constexpr uint8_t kShortEventTag = 0x4D;
constexpr uint16_t kUndefinedDate = 0xFFFF;

bool isBCD(uint8_t value, uint8_t highest) {
    return (value >> 4) <= 9 && (value & 0x0F) <= 9 && (value >> 4) * 10 + (value & 0x0F) <= highest;
}

uint8_t fromBCD(uint8_t value) { return uint8_t((value >> 4) * 10 + (value & 0x0F)); }

// Seconds from hhmmss in BCD, or -1 when a digit is not BCD or a field is
// past its highest (`hours` up to `highestHours`).
long secondsOfBCD(uint32_t hhmmss, uint8_t highestHours) {
    uint8_t h = uint8_t(hhmmss >> 16), m = uint8_t(hhmmss >> 8), s = uint8_t(hhmmss);
    if (!isBCD(h, highestHours) || !isBCD(m, 59) || !isBCD(s, 59)) return -1;
    return fromBCD(h) * 3600L + fromBCD(m) * 60L + fromBCD(s);
}

// "YYYYMMDD-HHMM" of a Modified Julian Date and a time of day in minutes.
void formatDate(char* out, long mjd, long minutes) {
    // EN 300 468 Annex C, in integer arithmetic.
    long y = (mjd * 100L - 1507820L) / 36525L;
    long m = (mjd * 10000L - 149561000L - (y * 36525L / 100L) * 10000L) / 306001L;
    long d = mjd - 14956L - y * 36525L / 100L - m * 306001L / 10000L;
    long k = (m == 14 || m == 15) ? 1 : 0;
    // A 16-bit date ends in 2038 at the latest: four digits of year.
    std::snprintf(out, 16, "%04u%02u%02u-%02u%02u", unsigned(1900 + y + k) % 10000, unsigned(m - 1 - k * 12) % 100,
                  unsigned(d) % 100, unsigned(minutes / 60) % 100u, unsigned(minutes % 60));
}

void readTitle(PresentEvent& event, ByteReader descriptors) {
    while (descriptors.canRead(2)) {
        uint8_t tag = descriptors.u8();
        ByteReader body = descriptors.take(descriptors.u8());
        if (tag != kShortEventTag) continue;
        body.skip(3);  // ISO_639_language_code
        event.u8TitleLength = uint8_t(body.copy(event.lu8Title, body.u8(), TS_SERVICE_NAME_SIZE));
        return;
    }
}

}  // namespace

void formatEventStart(char* out, uint16_t mjd, uint8_t hours, uint8_t minutes) {
    out[0] = '\0';
    if (mjd == kUndefinedDate || !isBCD(hours, 23) || !isBCD(minutes, 59)) return;
    formatDate(out, mjd, fromBCD(hours) * 60L + fromBCD(minutes));
}

void formatEventEnd(char* end, char* duration, uint16_t mjd, uint32_t hhmmss, uint32_t bcdDuration) {
    constexpr long kDay = 24 * 3600;
    end[0] = duration[0] = '\0';
    long length = secondsOfBCD(bcdDuration, 99);
    if (length < 0) return;
    std::snprintf(duration, 8, "%02u%02u", unsigned(length / 3600) % 100u, unsigned(length / 60 % 60));
    long start = secondsOfBCD(hhmmss, 23);
    if (mjd == kUndefinedDate || start < 0) return;
    long at = start + length;
    formatDate(end, mjd + at / kDay, at % kDay / 60);
}

PresentEvent readPresentEvent(const TS_PreSection& slot) {
    constexpr uint32_t kEventHeader = 12;  // event_id .. descriptors_loop_length
    PresentEvent event{};
    ByteReader loops = sectionLoops(sectionBytes(&slot));
    loops.u16();  // transport_stream_id
    event.u16OriginalNetwork = loops.u16();
    loops.skip(2);  // segment_last_section_number, last_table_id
    if (!loops.canRead(kEventHeader)) return event;
    event.u8HasEvent = 1;
    event.u16EventId = loops.u16();
    uint16_t mjd = loops.u16();
    uint32_t hhmmss = loops.u24();
    uint32_t duration = loops.u24();
    readTitle(event, loops.take(loops.u16() & 0x0FFF));
    formatEventStart(event.strStart, mjd, uint8_t(hhmmss >> 16), uint8_t(hhmmss >> 8));
    formatEventEnd(event.strEnd, event.strDuration, mjd, hhmmss, duration);
    return event;
}

}  // namespace rivulet
