#include "ts/section/psip.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <ctime>

#include "rivulet/services.h"

namespace rivulet {
namespace {

constexpr uint16_t kTableTypeEITZero = 0x0100;
constexpr uint8_t kUncompressed = 0x00;
constexpr uint8_t kLastUnicodePage = 0x33;  // modes 0x00..0x33 select the upper byte of UCS-2
constexpr uint8_t kModeUTF16 = 0x3F;

void formatTime(char* out, uint32_t seconds) {
    std::time_t at = std::time_t(kGPSEpoch + int64_t(seconds));
    std::tm utc{};
    gmtime_r(&at, &utc);
    std::snprintf(out, 16, "%04u%02u%02u-%02u%02u", unsigned(utc.tm_year + 1900) % 10000, unsigned(utc.tm_mon + 1) % 100,
                  unsigned(utc.tm_mday) % 100, unsigned(utc.tm_hour) % 100, unsigned(utc.tm_min) % 100);
}

void put(ATSCString& string, uint8_t high, uint8_t low) {
    if (string.u32Length + 2u > string.u32Room) {
        string.u8Truncated = 1;
        return;
    }
    string.pOut[string.u32Length++] = high;
    string.pOut[string.u32Length++] = low;
}

// Calls fn(table_type, table_type_PID) for each table the MGT in `slot` lists.
template <class Fn>
void forEachMGTTable(const TS_PreSection& slot, Fn&& fn) {
    constexpr uint32_t kTableEntry = 11;  // table_type .. table_type_descriptors_length
    ByteReader loops = sectionLoops(sectionBytes(&slot));
    loops.u8();  // protocol_version
    uint16_t tables = loops.u16();
    for (uint16_t i = 0; i < tables && loops.canRead(kTableEntry); ++i) {
        uint16_t type = loops.u16();
        uint16_t pid = loops.u16() & 0x1FFF;
        loops.skip(1 + 4);  // table_type_version_number, number_bytes
        loops.skip(loops.u16() & 0x0FFF);
        fn(type, pid);
    }
}

}  // namespace

uint16_t eitZeroPID(const TS_PreSection& slot) {
    uint16_t found = kNoPID;
    forEachMGTTable(slot, [&](uint16_t type, uint16_t pid) {
        if (type == kTableTypeEITZero && found == kNoPID) found = pid;
    });
    return found;
}

void atscGuidePIDs(const TS_PreSection& slot, uint16_t (&pids)[2 * kATSCGuideTables]) {
    constexpr uint16_t kTableTypeETTZero = 0x0200;
    std::fill(std::begin(pids), std::end(pids), kNoPID);
    forEachMGTTable(slot, [&](uint16_t type, uint16_t pid) {
        if (type >= kTableTypeEITZero && type < kTableTypeEITZero + kATSCGuideTables) {
            pids[type - kTableTypeEITZero] = pid;
        } else if (type >= kTableTypeETTZero && type < kTableTypeETTZero + kATSCGuideTables) {
            pids[kATSCGuideTables + type - kTableTypeETTZero] = pid;
        }
    });
}

bool sttTime(const TS_PreSection& slot, uint32_t* systemTime, uint8_t* gpsUtcOffset) {
    ByteReader loops = sectionLoops(sectionBytes(&slot));
    if (!loops.canRead(6)) return false;
    loops.u8();  // protocol_version
    *systemTime = loops.u32();
    *gpsUtcOffset = loops.u8();
    return true;
}

void readATSCString(ByteReader text, ATSCString& string) {
    if (text.u8() == 0) return;  // number_strings
    text.copy(reinterpret_cast<uint8_t*>(string.strLanguage), 3, 3);  // ISO_639_language_code
    uint8_t segments = text.u8();
    for (uint8_t i = 0; i < segments && text.canRead(3); ++i) {
        uint8_t compression = text.u8(), mode = text.u8();
        ByteReader bytes = text.take(text.u8());
        if (compression != kUncompressed) continue;
        if (mode <= kLastUnicodePage) {
            while (bytes.canRead()) put(string, mode, bytes.u8());
        } else if (mode == kModeUTF16) {
            while (bytes.canRead(2)) {
                uint8_t high = bytes.u8();
                put(string, high, bytes.u8());
            }
        }
    }
}

void showATSCTimes(PresentEvent& event, uint32_t start, uint32_t length, uint8_t gpsUtcOffset) {
    formatTime(event.strStart, start - gpsUtcOffset);
    formatTime(event.strEnd, start + length - gpsUtcOffset);
}

void forEachATSCEvent(const TS_PreSection& slot, void (*fn)(void*, const ATSCEvent&), void* user) {
    constexpr uint32_t kEventHeader = 10;  // event_id .. title_length
    constexpr uint32_t kSectionNumber = 6;
    ByteReader loops = sectionLoops(sectionBytes(&slot));
    loops.u8();  // protocol_version
    uint8_t events = loops.u8();
    for (uint8_t i = 0; i < events && loops.canRead(kEventHeader); ++i) {
        ATSCEvent e{};
        e.u8Section = slot.body[kSectionNumber];
        e.tEvent.u8HasEvent = 1;
        e.tEvent.u8TitleText = TS_TEXT_UTF16;
        e.tEvent.u16EventId = loops.u16() & 0x3FFF;
        e.u32Start = loops.u32();
        e.u32Length = loops.u24() & 0xFFFFF;
        ATSCString title{e.tEvent.lu8Title, TS_SERVICE_NAME_SIZE};
        readATSCString(loops.take(loops.u8()), title);
        e.tEvent.u8TitleLength = uint8_t(title.u32Length);
        loops.skip(loops.u16() & 0x0FFF);  // descriptors
        if (loops.overrun()) return;
        std::snprintf(e.tEvent.strDuration, sizeof e.tEvent.strDuration, "%02u%02u", unsigned(e.u32Length / 3600) % 100u,
                      unsigned(e.u32Length / 60 % 60));
        fn(user, e);
    }
}

}  // namespace rivulet
