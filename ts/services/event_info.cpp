// An EIT event entry decoded: its header, then each descriptor the guide
// knows by one rule of a table. The extended events are gathered first and
// joined in their numbering.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "rivulet/guide.h"
#include "rivulet/services.h"
#include "ts/core/byte_reader.h"
#include "ts/programs/service_list.h"
#include "ts/section/dvb_time.h"

using namespace rivulet;

namespace {

constexpr uint32_t kEventHeader = 12;  // event_id .. descriptors_loop_length
constexpr int16_t kJSTMinutes = 9 * 60;
constexpr uint32_t kMaxExtended = 16;  // descriptor_number is 4 bits

// Three letters of ISO 639-2 (others become '?').
void readLanguage(ByteReader& r, char* out) {
    for (int i = 0; i < 3; ++i) {
        const char c = char(r.u8());
        out[i] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ? c : '?';
    }
    out[3] = '\0';
}

// A text of `length` bytes from `r` into `out` (room for `capacity`);
// false when it was cut.
bool readText(ByteReader& r, uint32_t length, uint8_t* out, uint32_t capacity, uint32_t* copied) {
    ByteReader text = r.take(length);
    *copied = text.copy(out, text.remaining(), capacity);
    return *copied == length && !text.overrun();
}

// Appends a text to one of the event's long buffers; false when it was cut.
bool appendText(ByteReader& r, uint32_t length, uint8_t* buffer, uint16_t& used) {
    uint32_t copied = 0;
    const bool whole = readText(r, length, buffer + used, TS_EVENT_LONG_TEXT_SIZE - used, &copied);
    used = uint16_t(used + copied);
    return whole;
}

// The first short event names the event (others are of other languages).
void readShortEvent(TS_EventInfo& event, ByteReader body) {
    constexpr uint32_t kShortEventHeader = 5;  // ISO_639_language_code and the two lengths
    if (event.strLanguage[0] || !body.canRead(kShortEventHeader)) return;
    readLanguage(body, event.strLanguage);
    uint32_t copied = 0;
    bool whole = readText(body, body.u8(), event.lu8Title, TS_EVENT_SHORT_TEXT_SIZE, &copied);
    event.u8TitleLength = uint8_t(copied);
    whole = readText(body, body.u8(), event.lu8Description, TS_EVENT_SHORT_TEXT_SIZE, &copied) && whole;
    event.u8DescriptionLength = uint8_t(copied);
    if (!whole) event.u8Truncated = 1;
}

// One extended event descriptor's items and text, after those before it.
// An item without description continues the last one.
void joinExtended(TS_EventInfo& event, ByteReader body) {
    body.skip(1 + 3);  // descriptor_number, last_descriptor_number, ISO_639_language_code
    ByteReader items = body.take(body.u8());
    bool whole = !body.overrun();
    while (items.canRead(1)) {
        const uint8_t descriptionLength = items.u8();
        const bool continues = descriptionLength == 0 && event.u8ItemCount > 0;
        if (!continues && event.u8ItemCount == TS_EVENT_MAX_ITEMS) {
            whole = false;
            break;
        }
        TS_EventItem& item = continues ? event.ltItem[event.u8ItemCount - 1] : event.ltItem[event.u8ItemCount++];
        if (!continues) {
            item.u16DescriptionAt = event.u16ItemBytes;
            whole = appendText(items, descriptionLength, event.lu8ItemBytes, event.u16ItemBytes) && whole;
            item.u16DescriptionLength = uint16_t(event.u16ItemBytes - item.u16DescriptionAt);
            item.u16TextAt = event.u16ItemBytes;
        }
        // A continued text joins its item's only while nothing came between.
        const uint8_t textLength = items.u8();
        if (continues && item.u16TextAt + item.u16TextLength != event.u16ItemBytes) {
            items.skip(textLength);
            whole = false;
            continue;
        }
        whole = appendText(items, textLength, event.lu8ItemBytes, event.u16ItemBytes) && whole;
        item.u16TextLength = uint16_t(event.u16ItemBytes - item.u16TextAt);
    }
    whole = appendText(body, body.u8(), event.lu8ExtendedText, event.u16ExtendedTextLength) && whole;
    if (!whole) event.u8Truncated = 1;
}

void readContent(TS_EventInfo& event, ByteReader body) {
    while (body.canRead(2)) {
        const uint8_t nibbles = body.u8();
        const uint8_t user = body.u8();
        if (event.u8GenreCount == TS_EVENT_MAX_GENRES) {
            event.u8Truncated = 1;
            return;
        }
        event.lu8GenreUser[event.u8GenreCount] = user;
        event.lu8Genre[event.u8GenreCount++] = nibbles;
    }
}

TS_EventComponent* nextComponent(TS_EventInfo& event, uint8_t tag) {
    if (event.u8ComponentCount == TS_EVENT_MAX_COMPONENTS) {
        event.u8Truncated = 1;
        return nullptr;
    }
    TS_EventComponent* c = &event.ltComponent[event.u8ComponentCount++];
    c->u8DescriptorTag = tag;
    return c;
}

void readComponentText(TS_EventInfo& event, TS_EventComponent& c, ByteReader& body) {
    uint32_t copied = 0;
    if (!readText(body, body.remaining(), c.lu8Text, TS_EVENT_SHORT_TEXT_SIZE, &copied)) event.u8Truncated = 1;
    c.u8TextLength = uint8_t(copied);
}

void readComponent(TS_EventInfo& event, ByteReader body) {
    TS_EventComponent* c = nextComponent(event, 0x50);
    if (!c) return;
    const uint8_t content = body.u8();
    c->u8StreamContentExt = content >> 4;
    c->u8StreamContent = content & 0x0F;
    c->u8ComponentType = body.u8();
    c->u8ComponentTag = body.u8();
    readLanguage(body, c->strLanguage);
    readComponentText(event, *c, body);
}

void readAudioComponent(TS_EventInfo& event, ByteReader body) {
    constexpr uint8_t kMultiLingual = 0x80;
    TS_EventComponent* c = nextComponent(event, 0xC4);
    if (!c) return;
    c->u8StreamContent = body.u8() & 0x0F;
    c->u8ComponentType = body.u8();
    c->u8ComponentTag = body.u8();
    c->u8StreamType = body.u8();
    body.skip(1);  // simulcast_group_tag
    const uint8_t flags = body.u8();
    readLanguage(body, c->strLanguage);
    if (flags & kMultiLingual) readLanguage(body, c->strLanguage2);
    readComponentText(event, *c, body);
}

void readRating(TS_EventInfo& event, ByteReader body) {
    while (body.canRead(4)) {
        if (event.u8RatingCount == TS_EVENT_MAX_RATINGS) {
            event.u8Truncated = 1;
            return;
        }
        TS_EventRating& rating = event.ltRating[event.u8RatingCount++];
        readLanguage(body, rating.strCountry);
        rating.u8Rating = body.u8();
    }
}

struct DescriptorRule {
    uint8_t u8Tag;
    void (*read)(TS_EventInfo& event, ByteReader body);
};
// The extended event (0x4E) is joined apart, in its numbering.
constexpr DescriptorRule kRules[] = {
    {0x4D, readShortEvent}, {0x50, readComponent}, {0x54, readContent}, {0x55, readRating}, {0xC4, readAudioComponent},
};

// The extended event descriptors of `loop`, in their numbering (a number
// given twice keeps its first).
void readExtendedEvents(TS_EventInfo& event, ByteReader loop) {
    const uint8_t* bodies[kMaxExtended] = {};
    uint8_t lengths[kMaxExtended] = {};
    while (loop.canRead(2)) {
        const uint8_t tag = loop.u8();
        ByteReader body = loop.take(loop.u8());
        if (tag != 0x4E || !body.canRead(1)) continue;
        const uint8_t number = body.current()[0] >> 4;
        if (bodies[number]) continue;
        bodies[number] = body.current();
        lengths[number] = uint8_t(body.remaining());
    }
    for (uint32_t n = 0; n < kMaxExtended; ++n) {
        if (bodies[n]) joinExtended(event, ByteReader(bodies[n], lengths[n]));
    }
}

void readDescriptors(TS_EventInfo& event, ByteReader loop) {
    readExtendedEvents(event, loop);
    while (loop.canRead(2)) {
        const uint8_t tag = loop.u8();
        ByteReader body = loop.take(loop.u8());
        const DescriptorRule* rule = std::find_if(std::begin(kRules), std::end(kRules),
                                                  [tag](const DescriptorRule& r) { return r.u8Tag == tag; });
        if (rule != std::end(kRules)) rule->read(event, body);
    }
}

void readTimes(TS_EventInfo& event, uint16_t mjd, uint32_t hhmmss, uint32_t duration) {
    const int64_t length = secondsOfBCD(duration, 99);
    event.u8HasDuration = length >= 0;
    event.u32Duration = uint32_t(length >= 0 ? length : 0);
    const int64_t time = secondsOfBCD(hhmmss, 23);
    event.u8HasStart = mjd != kUndefinedDate && time >= 0;
    if (event.u8HasStart) event.s64Start = (int64_t(mjd) - kUnixEpochMJD) * 86400 + time;
}

}  // namespace

int32_t TS_EventInfo_Read(TS_EventInfo* info, const uint8_t* entry, uint32_t size, uint8_t tableId,
                          uint16_t serviceId, uint16_t transportStreamId, uint16_t originalNetworkId) {
    if (!info || !entry) return -1;
    std::memset(info, 0, sizeof *info);
    info->u8TableId = tableId;
    info->u16ServiceId = serviceId;
    info->u16TransportStreamId = transportStreamId;
    info->u16OriginalNetworkId = originalNetworkId;
    const bool arib = isISDBNetwork(originalNetworkId);
    info->u8Text = arib ? TS_TEXT_ARIB : TS_TEXT_DVB;
    info->s16ZoneMinutes = arib ? kJSTMinutes : 0;
    ByteReader r(entry, size);
    if (!r.canRead(kEventHeader)) return -2;
    info->u16EventId = r.u16();
    const uint16_t mjd = r.u16();
    const uint32_t hhmmss = r.u24();
    const uint32_t duration = r.u24();
    const uint16_t statusAndLength = r.u16();
    info->u8RunningStatus = uint8_t(statusAndLength >> 13);
    readTimes(*info, mjd, hhmmss, duration);
    readDescriptors(*info, r.take(statusAndLength & 0x0FFF));
    return 0;
}
