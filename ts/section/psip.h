// ATSC's program and system information (A/65) as far as a cut at events
// needs it: the MGT names the PID of EIT-0, the events of the next three
// hours; the STT gives the time; each EIT-0 section lists the events of one
// source, which a virtual channel (see vct.h) ties to a program.
#ifndef RIVULET_PSIP_H
#define RIVULET_PSIP_H

#include <cstdint>

#include "rivulet/packets_sections.h"
#include "ts/section/section_reader.h"
#include "ts/section/eit_present.h"
#include "ts/section/vct.h"

namespace rivulet {

constexpr uint8_t kTableMGT = 0xC7;  // on kPIDPSIP, with the STT and the VCTs
constexpr uint8_t kTableATSCEIT = 0xCB;
constexpr uint8_t kTableETT = 0xCC;
constexpr uint8_t kTableSTT = 0xCD;
constexpr uint16_t kNoPID = 0xFFFF;
constexpr int64_t kGPSEpoch = 315964800;  // 1980-01-06 00:00:00 in seconds since 1970
// GPS_UTC_offset since 2017-01-01, for times read before an STT gives it.
constexpr uint8_t kGPSUTCOffset = 18;

// The PID the MGT in `slot` gives EIT-0 (table_type 0x0100), or kNoPID.
uint16_t eitZeroPID(const TS_PreSection& slot);
// The PIDs it gives EIT-0..3 (0x0100-0x0103) and then their ETTs
// (0x0200-0x0203); kNoPID for a table it does not list.
constexpr uint32_t kATSCGuideTables = 4;
void atscGuidePIDs(const TS_PreSection& slot, uint16_t (&pids)[2 * kATSCGuideTables]);

// The STT in `slot`: system_time, in GPS seconds since 1980-01-06 00:00:00,
// and GPS_UTC_offset, the seconds GPS time is ahead of UTC. False when the
// section is too short to hold them.
bool sttTime(const TS_PreSection& slot, uint32_t* systemTime, uint8_t* gpsUtcOffset);

// The first string of a multiple_string_structure (A/65 6.10) as UTF-16BE:
// its uncompressed segments, each byte on the Unicode page its mode selects
// (or two bytes a unit, mode 0x3F); compressed segments and other modes are
// left out. Into `pOut`, `u32Room` bytes, each unit whole; u8Truncated when
// the string was longer.
struct ATSCString {
    uint8_t* pOut;
    uint32_t u32Room;
    uint32_t u32Length = 0;
    uint8_t u8Truncated = 0;
    char strLanguage[4] = {};  // ISO 639-2 of the string, "" when none
};
void readATSCString(ByteReader text, ATSCString& string);

struct ATSCEvent {
    uint32_t u32Start;   // start_time, GPS seconds since 1980-01-06 00:00:00
    uint32_t u32Length;  // length_in_seconds
    uint8_t u8Section;   // section_number of the EIT section that listed it
    PresentEvent tEvent; // its event_id, duration as text and title (UTF-16); no start or end
};

// Calls fn(const ATSCEvent&) for each event of the EIT section in `slot`.
void forEachATSCEvent(const TS_PreSection& slot, void (*fn)(void*, const ATSCEvent&), void* user);

// `event`'s start and end as text, in UTC: GPS time less `gpsUtcOffset`.
void showATSCTimes(PresentEvent& event, uint32_t start, uint32_t length, uint8_t gpsUtcOffset);

}  // namespace rivulet

#endif
