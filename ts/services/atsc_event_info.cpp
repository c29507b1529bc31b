#include "ts/services/atsc_event_info.h"

#include <cstring>

#include "rivulet/services.h"
#include "ts/core/byte_reader.h"
#include "ts/section/psip.h"

namespace rivulet {
namespace {

constexpr uint8_t kTableATSCEITId = 0xCB;

// A language of three letters, as the other records show one; "" otherwise.
void keepLanguage(const char (&read)[4], char (&out)[4]) {
    for (int i = 0; i < 3; ++i) {
        const char c = read[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return;
    }
    std::memcpy(out, read, sizeof out);
}

}  // namespace

int32_t atscEventInfoRead(TS_EventInfo* info, const uint8_t* entry, uint32_t size, uint8_t gpsUtcOffset,
                          const uint8_t* text, uint32_t textSize) {
    if (!info || !entry) return -1;
    std::memset(info, 0, sizeof *info);
    if (size < kATSCEventHeader) return -2;
    ByteReader r(entry, size);
    info->u8TableId = kTableATSCEITId;
    info->u8Text = TS_TEXT_UTF16;
    info->u16EventId = r.u16() & 0x3FFF;
    info->u8HasStart = 1;
    info->s64Start = kGPSEpoch + int64_t(r.u32()) - gpsUtcOffset;
    info->u8HasDuration = 1;
    info->u32Duration = r.u24() & 0xFFFFF;  // behind ETM_location
    // The room of a text field, kept to whole UTF-16 units.
    ATSCString title{info->lu8Title, TS_EVENT_SHORT_TEXT_SIZE & ~1u};
    readATSCString(r.take(r.u8()), title);
    info->u8TitleLength = uint8_t(title.u32Length);
    keepLanguage(title.strLanguage, info->strLanguage);
    ATSCString description{info->lu8ExtendedText, TS_EVENT_LONG_TEXT_SIZE};
    if (text) readATSCString(ByteReader(text, textSize), description);
    info->u16ExtendedTextLength = uint16_t(description.u32Length);
    info->u8Truncated = title.u8Truncated || description.u8Truncated || r.overrun();
    return 0;
}

}  // namespace rivulet
