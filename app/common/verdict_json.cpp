#include "app/common/verdict_json.h"

#include "app/common/word_list.h"

namespace rivulet {
namespace {

constexpr const char* kKindNames[TS_KIND_COUNT] = {"video", "audio", "subtitles", "data", "psi", "ecm", "pcr"};
constexpr const char* kGapNames[] = {"clock_jump", "continuity_lost", "new_transport_stream"};
static_assert(sizeof kGapNames / sizeof *kGapNames == TS_GAP_NEW_TRANSPORT_STREAM + 1);

constexpr ListWord kDamageWords[] = {
    {TS_DAMAGE_DROPS, "drops"}, {TS_DAMAGE_SCRAMBLED, "scrambled"}, {TS_DAMAGE_TEI, "tei"}, {TS_DAMAGE_GAPS, "gaps"}};

nlohmann::ordered_json gapJSON(const TS_InputGap& gap) {
    const char* kind = gap.u8Kind <= TS_GAP_NEW_TRANSPORT_STREAM ? kGapNames[gap.u8Kind] : "unknown";
    nlohmann::ordered_json pcr = gap.u8HasPCR ? nlohmann::ordered_json(double(gap.u64PCR) / 27e6) : nlohmann::ordered_json();
    return {{"kind", kind}, {"offset", gap.u64Offset}, {"pcr_s", pcr}};
}

}  // namespace

const char* kindName(uint8_t kind) { return kind < TS_KIND_COUNT ? kKindNames[kind] : "other"; }

nlohmann::ordered_json stretchJSON(const TS_StretchCounts& stretch) {
    nlohmann::ordered_json kinds = nlohmann::ordered_json::object();
    for (uint8_t k = 0; k < TS_KIND_COUNT; ++k) {
        const TS_PIDCounts& c = stretch.ltKind[k];
        kinds[kKindNames[k]] = {{"packets", c.u64Packets},
                                {"cc_errors", c.u64CCErrors},
                                {"lost_packets", c.u64LostPackets},
                                {"tei", c.u64TEI},
                                {"scrambled", c.u64Scrambled}};
    }
    nlohmann::ordered_json gaps = nlohmann::ordered_json::array();
    for (uint32_t g = 0; g < stretch.u32Gaps && g < TS_LISTED_GAPS; ++g) gaps.push_back(gapJSON(stretch.ltGap[g]));
    return {{"kinds", kinds}, {"gaps", gaps}, {"gaps_count", stretch.u32Gaps}};
}

nlohmann::ordered_json verdictJSON(const TS_StretchCounts& stretch) {
    const uint8_t damage = TS_StretchDamage(&stretch);
    nlohmann::ordered_json reasons = nlohmann::ordered_json::array();
    for (const ListWord& word : kDamageWords) {
        if (damage & word.u32Bit) reasons.push_back(word.word);
    }
    return {{"verdict", damage ? "damaged" : "clean"}, {"reasons", reasons}};
}

bool parseDamage(std::string_view list, uint8_t* bits, std::string* unknown) {
    uint32_t words = 0;
    const bool known = parseWordList(list, kDamageWords, &words, unknown);
    *bits = uint8_t(words);
    return known;
}

std::string damageWords(uint8_t bits) { return wordsOf(kDamageWords, bits, ", "); }

}  // namespace rivulet
