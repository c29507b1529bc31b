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
    // EN 300 468 Annex C, in integer arithmetic.
    long y = (mjd * 100L - 1507820L) / 36525L;
    long m = (mjd * 10000L - 149561000L - (y * 36525L / 100L) * 10000L) / 306001L;
    long d = mjd - 14956L - y * 36525L / 100L - m * 306001L / 10000L;
    long k = (m == 14 || m == 15) ? 1 : 0;
    // A 16-bit date ends in 2038 at the latest: four digits of year.
    std::snprintf(out, 16, "%04u%02u%02u-%02u%02u", unsigned(1900 + y + k) % 10000, unsigned(m - 1 - k * 12) % 100,
                  unsigned(d) % 100, fromBCD(hours) % 100u, fromBCD(minutes) % 100u);
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
    loops.u16();  // event_id
    uint16_t mjd = loops.u16();
    uint8_t hours = loops.u8();
    uint8_t minutes = loops.u8();
    loops.skip(1 + 3);  // seconds, duration
    readTitle(event, loops.take(loops.u16() & 0x0FFF));
    formatEventStart(event.strStart, mjd, hours, minutes);
    return event;
}

}  // namespace rivulet
