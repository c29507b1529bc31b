// The present event of an EIT present/following actual section (ETSI EN 300
// 468, table 0x4E on PID 0x12, section_number 0): its start time and the
// event_name of its short event descriptor (tag 0x4D), as broadcast. ISDB
// sends the same table, its texts in ARIB STD-B24.
#ifndef RIVULET_EIT_PRESENT_H
#define RIVULET_EIT_PRESENT_H

#include <cstdint>

#include "rivulet/packets_sections.h"
#include "ts/section/section_reader.h"

namespace rivulet {

constexpr uint16_t kPIDEIT = 0x0012;
constexpr uint8_t kTableEITPresentFollowing = 0x4E;
constexpr uint8_t kPresentSection = 0;

struct PresentEvent {
    uint8_t u8HasEvent;        // 0: the section lists no event
    uint16_t u16EventId;
    uint16_t u16OriginalNetwork;
    uint8_t u8TitleText;       // TS_TEXT_UTF16 from ATSC; an EIT of DVB or ISDB, told apart by the network, leaves 0
    uint8_t u8TitleLength;
    uint8_t lu8Title[TS_SERVICE_NAME_SIZE];
    char strStart[16];         // "YYYYMMDD-HHMM", "" when the start is undefined
    char strEnd[16];           // the start plus the duration, the same way
    char strDuration[8];       // "HHMM", "" when undefined
};

// "YYYYMMDD-HHMM" from a 16-bit Modified Julian Date and BCD hours and
// minutes (EN 300 468 Annex C); "" for the undefined time (all bits set) or
// digits that are not BCD.
void formatEventStart(char* out, uint16_t mjd, uint8_t hours, uint8_t minutes);
// The end of an event that starts at `mjd` and BCD `hhmmss` and lasts BCD
// `duration` (hhmmss), as formatEventStart writes a start, and its
// duration as "HHMM" (hours up to 99); "" for whatever is undefined.
void formatEventEnd(char* end, char* duration, uint16_t mjd, uint32_t hhmmss, uint32_t bcdDuration);

// Reads the section in `slot`, which is a verified section 0 of table 0x4E.
PresentEvent readPresentEvent(const TS_PreSection& slot);

}  // namespace rivulet

#endif
