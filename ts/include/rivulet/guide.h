// Rivulet toolkit: the programme guide. The events an input's EIT carries
// (present/following and schedule, of its own transport stream and, when
// asked, of others), each decoded from its entry: the short event (0x4D),
// the extended events (0x4E) joined in their numbering, the content (0x54),
// the components (0x50, ARIB's audio component 0xC4) and the parental
// rating (0x55). ATSC's events come from EIT-0 to EIT-3, each under the
// program the VCT makes its source, with the text of its ETT as the
// extended text. Texts stay as broadcast (DVB, ARIB or UTF-16 text, see
// u8Text), each cut at its field's size; u8Truncated says when one was.
//
//   TS_Guide* guide = nullptr;
//   int32_t status = TS_ReadGuide("rec.ts", nullptr, &guide);
//   auto* event = new TS_EventInfo;                  // about 9 KB
//   for (uint32_t i = 0; i < TS_Guide_EventCount(guide); ++i) TS_Guide_Event(guide, i, event);
//   TS_Guide_Free(guide);
#ifndef RIVULET_GUIDE_H
#define RIVULET_GUIDE_H

#include "rivulet/common.h"
#include "rivulet/services.h"

constexpr uint32_t TS_EVENT_SHORT_TEXT_SIZE = 255;  // a title or a short description, as one field holds it
constexpr uint32_t TS_EVENT_LONG_TEXT_SIZE = 4096;  // the extended events' items, or their text, joined
constexpr uint32_t TS_EVENT_MAX_ITEMS = 32;
constexpr uint32_t TS_EVENT_MAX_GENRES = 8;
constexpr uint32_t TS_EVENT_MAX_COMPONENTS = 16;
constexpr uint32_t TS_EVENT_MAX_RATINGS = 8;

// An extended event's item: its description and its text, each a stretch of
// TS_EventInfo.lu8ItemBytes. An item whose description is empty continues
// the one before it (a text over several descriptors): joined into it.
struct TS_EventItem {
    uint16_t u16DescriptionAt;
    uint16_t u16DescriptionLength;
    uint16_t u16TextAt;
    uint16_t u16TextLength;
};

// A component descriptor (0x50) or ARIB's audio component descriptor (0xC4).
struct TS_EventComponent {
    uint8_t u8DescriptorTag;
    uint8_t u8StreamContent;           // stream_content (4 bits)
    uint8_t u8StreamContentExt;        // 0x50: stream_content_ext (4 bits)
    uint8_t u8ComponentType;
    uint8_t u8ComponentTag;
    uint8_t u8StreamType;              // 0xC4 only
    char strLanguage[4];               // ISO 639-2, "" when none
    char strLanguage2[4];              // 0xC4 with ES_multi_lingual_flag: the second language
    uint8_t u8TextLength;
    uint8_t lu8Text[TS_EVENT_SHORT_TEXT_SIZE];
};

struct TS_EventRating {
    char strCountry[4];
    uint8_t u8Rating;                  // 0: undefined; 0x01-0x0F: minimum age - 3
};

struct TS_EventInfo {
    uint16_t u16EventId;
    uint16_t u16ServiceId;             // the EIT's table_id_extension: the program number
    uint16_t u16TransportStreamId;
    uint16_t u16OriginalNetworkId;     // 0 for ATSC
    uint8_t u8TableId;                 // 0x4E/0x4F present/following, 0x50-0x6F schedule, 0xCB ATSC
    uint8_t u8SectionNumber;           // present/following: 0 the present event, 1 the following
    uint8_t u8RunningStatus;
    uint8_t u8Text;                    // TS_TEXT_DVB, TS_TEXT_ARIB for an ISDB network, TS_TEXT_UTF16 for ATSC
    uint8_t u8HasStart;                // the start is defined (and its digits BCD)
    int64_t s64Start;                  // seconds since 1970-01-01 00:00, of the time as broadcast
    int16_t s16ZoneMinutes;            // its offset from UTC: 0 (DVB, ATSC: UTC), 540 (ISDB: JST)
    uint8_t u8HasDuration;
    uint32_t u32Duration;              // seconds
    char strLanguage[4];               // of the short event, "" without one
    uint8_t u8TitleLength;
    uint8_t lu8Title[TS_EVENT_SHORT_TEXT_SIZE];
    uint8_t u8DescriptionLength;       // the short event's text
    uint8_t lu8Description[TS_EVENT_SHORT_TEXT_SIZE];
    uint8_t u8ItemCount;
    TS_EventItem ltItem[TS_EVENT_MAX_ITEMS];
    uint16_t u16ItemBytes;
    uint8_t lu8ItemBytes[TS_EVENT_LONG_TEXT_SIZE];
    uint16_t u16ExtendedTextLength;    // the extended events' text_char, joined
    uint8_t lu8ExtendedText[TS_EVENT_LONG_TEXT_SIZE];
    uint8_t u8GenreCount;
    uint8_t lu8Genre[TS_EVENT_MAX_GENRES];      // content_nibble_level_1 << 4 | content_nibble_level_2
    uint8_t lu8GenreUser[TS_EVENT_MAX_GENRES];  // its user_byte
    uint8_t u8ComponentCount;
    TS_EventComponent ltComponent[TS_EVENT_MAX_COMPONENTS];
    uint8_t u8RatingCount;
    TS_EventRating ltRating[TS_EVENT_MAX_RATINGS];
    uint8_t u8Truncated;               // a text or a list was longer than its field
};

// Decodes the event entry at `entry` (event_id to the end of its
// descriptors, `size` bytes) of an EIT section of `tableId`, `serviceId`,
// `transportStreamId` and `originalNetworkId` into `info`. What the entry
// lacks stays empty. -1 when an argument is null, -2 when the entry is
// shorter than its 12-byte header.
int32_t TS_EventInfo_Read(TS_EventInfo* info, const uint8_t* entry, uint32_t size, uint8_t tableId,
                          uint16_t serviceId, uint16_t transportStreamId, uint16_t originalNetworkId);

// The DVB genre words of content `nibbles` (level_1 << 4 | level_2; EN 300
// 468 table 29), or with `arib` those of ARIB STD-B10's genre table; "" for a
// reserved or user-defined value.
const char* TS_GenreName(uint8_t nibbles, uint8_t arib);
// The words of its level 1 alone ("Movie/Drama"); "" when reserved.
const char* TS_GenreGroupName(uint8_t nibbles, uint8_t arib);

// What a guide reads.
struct TS_GuideOptions {
    uint8_t u8Other;                   // also the other transport streams' EIT (0x4F, 0x60-0x6F)
    uint32_t u32Seconds;               // stop after this many seconds of input time (its PCR); 0: the input's end
};

struct TS_Guide;

// A service of the guide: from an SDT actual (or other, with u8Other).
struct TS_GuideService {
    uint16_t u16ServiceId;
    uint16_t u16TransportStreamId;
    uint16_t u16OriginalNetworkId;     // 0 for ATSC
    uint8_t u8Text;                    // TS_TEXT_...
    uint8_t u8NameLength;              // 0: no SDT named it
    uint8_t lu8Name[TS_SERVICE_NAME_SIZE];
    uint8_t u8ProviderLength;
    uint8_t lu8Provider[TS_SERVICE_NAME_SIZE];
};

// Reads `path` (a file, a pipe, a device) and gathers its events, the last
// version of each (by network, stream, service and event_id), and the
// services that carry them or that an SDT names. `*guide` is the caller's
// to free, also after a failure (it then holds what was read). Statuses:
// those of the drivers (rivulet/common.h).
int32_t TS_ReadGuide(const char* path, const TS_GuideOptions* options, TS_Guide** guide);
// Its events, ordered by service (network, stream, service) and start.
uint32_t TS_Guide_EventCount(const TS_Guide* guide);
// Event `index` decoded into `info`; -1 past the last.
int32_t TS_Guide_Event(const TS_Guide* guide, uint32_t index, TS_EventInfo* info);
// An empty guide, for TS_Splitter_SetGuide to gather into; free it with TS_Guide_Free.
TS_Guide* TS_Guide_Create();
// The event `eventId` of service `serviceId` of the input's own stream (EIT
// actual) into `info`; -1 when the guide has none.
int32_t TS_Guide_Find(const TS_Guide* guide, uint16_t serviceId, uint16_t eventId, TS_EventInfo* info);
// The first present event (EIT present/following, section 0; ATSC: the
// event the STT's clock was first in) the guide met of service
// `serviceId`: the one a recording began in; -1 when none came.
int32_t TS_Guide_FirstPresent(const TS_Guide* guide, uint16_t serviceId, TS_EventInfo* info);
uint32_t TS_Guide_ServiceCount(const TS_Guide* guide);
int32_t TS_Guide_Service(const TS_Guide* guide, uint32_t index, TS_GuideService* service);
void TS_Guide_Free(TS_Guide* guide);

#endif  // RIVULET_GUIDE_H
