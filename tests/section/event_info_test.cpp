// An EIT event entry decoded from bytes laid out by hand: its times, each
// descriptor the guide reads, the extended events joined in their
// numbering, and what a damaged or over-full entry keeps.

#include <memory>
#include <string>

#include "tests/support/test.h"

namespace {

std::string text(const uint8_t* bytes, size_t size) { return std::string(reinterpret_cast<const char*>(bytes), size); }

Bytes chars(const std::string& s) { return Bytes(s.begin(), s.end()); }

// event_id 0x1234, 2024-03-15 (MJD 60384 = 0xEBE0) 21:07:00, 1:30:05, running (4).
Bytes entry(const Bytes& descriptors, Bytes times = {0xEB, 0xE0, 0x21, 0x07, 0x00, 0x01, 0x30, 0x05}) {
    Bytes e = tsb::concat({{0x12, 0x34}, times});
    tsb::append(e, {uint8_t(0x80 | descriptors.size() >> 8), uint8_t(descriptors.size())});
    tsb::append(e, descriptors);
    return e;
}

// An extended event descriptor: number of last, "eng", items, text.
Bytes extended(uint8_t number, uint8_t last, const std::vector<std::pair<std::string, std::string>>& items,
               const std::string& body) {
    Bytes itemBytes;
    for (const auto& [description, itemText] : items) {
        tsb::append(itemBytes, tsb::concat({{uint8_t(description.size())}, chars(description), {uint8_t(itemText.size())}, chars(itemText)}));
    }
    return tsb::descriptor(0x4E, tsb::concat({{uint8_t(number << 4 | last)}, chars("eng"), {uint8_t(itemBytes.size())}, itemBytes,
                                              {uint8_t(body.size())}, chars(body)}));
}

std::unique_ptr<TS_EventInfo> read(const Bytes& e, uint16_t network = 1) {
    auto info = std::make_unique<TS_EventInfo>();
    EXPECT_EQ(TS_EventInfo_Read(info.get(), e.data(), uint32_t(e.size()), 0x50, 0x0401, 7, network), 0);
    return info;
}

std::vector<std::pair<std::string, std::string>> itemsOf(const TS_EventInfo& e) {
    std::vector<std::pair<std::string, std::string>> items;
    for (uint8_t i = 0; i < e.u8ItemCount; ++i) {
        const TS_EventItem& item = e.ltItem[i];
        items.emplace_back(text(e.lu8ItemBytes + item.u16DescriptionAt, item.u16DescriptionLength),
                           text(e.lu8ItemBytes + item.u16TextAt, item.u16TextLength));
    }
    return items;
}

}  // namespace

TEST(EventInfo, ReadsEachDescriptorAndJoinsTheExtendedEventsInTheirNumbering) {
    const Bytes descriptors = tsb::concat({
        tsb::descriptor(0x4D, tsb::concat({chars("fra"), {5}, chars("Titre"), {3}, chars("Ah!")})),
        // Numbers 2, 0, 1 of 2: the cast's text goes on in descriptor 1, the director's in 2.
        extended(2, 2, {{"", "ier"}}, "end."),
        extended(0, 2, {{"Cast", "Ann, "}}, "Long "),
        extended(1, 2, {{"", "Bob"}, {"Director", "Oliv"}}, "text, "),
        tsb::descriptor(0x54, {0x43, 0x00, 0x1C, 0x07}),
        tsb::descriptor(0x50, tsb::concat({{0xF5, 0x0B, 0x01}, chars("fre"), chars("HD")})),
        tsb::descriptor(0xC4, tsb::concat({{0xF2, 0x03, 0x10, 0x0F, 0x00, 0x80 | 0x2F}, chars("jpn"), chars("eng"), chars("Dual")})),
        tsb::descriptor(0x55, tsb::concat({chars("FRA"), {0x09}, chars("DEU"), {0x0C}})),
        tsb::descriptor(0x99, {1, 2, 3}),  // unknown: passed over
    });
    const auto e = read(entry(descriptors));
    EXPECT_EQ(e->u16EventId, 0x1234);
    EXPECT_EQ(e->u8RunningStatus, 4);
    EXPECT_EQ(e->u8HasStart, 1);
    EXPECT_EQ(e->s64Start, 1710536820);  // 2024-03-15 21:07:00 UTC
    EXPECT_EQ(e->s16ZoneMinutes, 0);
    EXPECT_EQ(e->u32Duration, 5405u);
    EXPECT_EQ(std::string(e->strLanguage), "fra");
    EXPECT_EQ(text(e->lu8Title, e->u8TitleLength), "Titre");
    EXPECT_EQ(text(e->lu8Description, e->u8DescriptionLength), "Ah!");
    EXPECT_EQ(itemsOf(*e), (std::vector<std::pair<std::string, std::string>>{{"Cast", "Ann, Bob"}, {"Director", "Olivier"}}));
    EXPECT_EQ(text(e->lu8ExtendedText, e->u16ExtendedTextLength), "Long text, end.");
    EXPECT_EQ(std::vector<uint8_t>(e->lu8Genre, e->lu8Genre + e->u8GenreCount), (std::vector<uint8_t>{0x43, 0x1C}));
    EXPECT_EQ(e->lu8GenreUser[1], 0x07);
    ASSERT_EQ(e->u8ComponentCount, 2);
    const TS_EventComponent& video = e->ltComponent[0];
    EXPECT_EQ(std::tuple(video.u8DescriptorTag, video.u8StreamContentExt, video.u8StreamContent, video.u8ComponentType,
                         video.u8ComponentTag, std::string(video.strLanguage), text(video.lu8Text, video.u8TextLength)),
              std::tuple(0x50, 0xF, 0x5, 0x0B, 0x01, std::string("fre"), std::string("HD")));
    const TS_EventComponent& audio = e->ltComponent[1];
    EXPECT_EQ(std::tuple(audio.u8DescriptorTag, audio.u8StreamContent, audio.u8ComponentType, audio.u8StreamType,
                         std::string(audio.strLanguage), std::string(audio.strLanguage2), text(audio.lu8Text, audio.u8TextLength)),
              std::tuple(0xC4, 0x2, 0x03, 0x0F, std::string("jpn"), std::string("eng"), std::string("Dual")));
    ASSERT_EQ(e->u8RatingCount, 2);
    EXPECT_EQ(std::string(e->ltRating[1].strCountry), "DEU");
    EXPECT_EQ(e->ltRating[1].u8Rating, 0x0C);
    EXPECT_EQ(e->u8Truncated, 0);
}

// Undefined or damaged fields are left out, never guessed; an ISDB network
// gives its times in JST and its texts in ARIB.
TEST(EventInfo, LeavesOutWhatTheEntryLacksOrCannotHold) {
    struct Case {
        const char* name;
        Bytes entry;
        uint16_t network;
        uint8_t hasStart, hasDuration, truncated, items, text;
    };
    Bytes manyItems;
    for (int i = 0; i < 40; ++i) tsb::append(manyItems, {1, uint8_t('a' + i % 26), 0});
    const Bytes overfull = tsb::descriptor(0x4E, tsb::concat({{0x00}, chars("eng"), {uint8_t(manyItems.size())}, manyItems, {0}}));
    const Case cases[] = {
        {"undefined start", entry({}, {0xFF, 0xFF, 0x21, 0x07, 0x00, 0x01, 0x30, 0x05}), 1, 0, 1, 0, 0, TS_TEXT_DVB},
        {"digits not BCD", entry({}, {0xEB, 0xE0, 0x2A, 0x07, 0x00, 0x01, 0x6A, 0x05}), 1, 0, 0, 0, 0, TS_TEXT_DVB},
        {"more items than held", entry(overfull), 1, 1, 1, 1, TS_EVENT_MAX_ITEMS, TS_TEXT_DVB},
        {"a title longer than its descriptor", entry(Bytes{0x4D, 5, 'j', 'p', 'n', 9, 'x'}), 4, 1, 1, 1, 0, TS_TEXT_ARIB},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto e = read(c.entry, c.network);
        EXPECT_EQ(e->u8HasStart, c.hasStart);
        EXPECT_EQ(e->u8HasDuration, c.hasDuration);
        EXPECT_EQ(e->u8Truncated, c.truncated);
        EXPECT_EQ(e->u8ItemCount, c.items);
        EXPECT_EQ(e->u8Text, c.text);
        EXPECT_EQ(e->s16ZoneMinutes, c.text == TS_TEXT_ARIB ? 540 : 0);
    }
    TS_EventInfo info;
    const Bytes shortEntry = {0x12, 0x34, 0xEB};
    EXPECT_EQ(TS_EventInfo_Read(&info, shortEntry.data(), uint32_t(shortEntry.size()), 0x4E, 1, 1, 1), -2);
    EXPECT_EQ(TS_EventInfo_Read(nullptr, shortEntry.data(), 3, 0x4E, 1, 1, 1), -1);
}

TEST(EventInfo, GenresOfEachTable) {
    const std::tuple<uint8_t, uint8_t, const char*, const char*> cases[] = {
        {0x43, 0, "football/soccer", "Sports"},
        {0x1C, 0, "", "Movie/Drama"},  // reserved within its group
        {0xF3, 0, "", ""},             // user defined
        {0x62, 1, "アニメ", "映画"},
        {0xFF, 1, "その他", "その他"},
        {0xC0, 1, "", ""},             // reserved
    };
    for (const auto& [nibbles, arib, name, group] : cases) {
        EXPECT_STREQ(TS_GenreName(nibbles, arib), name) << int(nibbles);
        EXPECT_STREQ(TS_GenreGroupName(nibbles, arib), group) << int(nibbles);
    }
    // Each of ARIB's groups, news to welfare, ends in its "other" value.
    for (uint8_t group = 0x0; group <= 0xB; ++group) {
        EXPECT_STREQ(TS_GenreName(uint8_t(group << 4 | 0xF), 1), "その他") << int(group);
    }
}
