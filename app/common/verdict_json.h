// The verdict on a program's packets as JSON, as `rivulet --report` gives
// it for each file and `rivulet-ts check --json` for each program, and the
// damage words that `rivulet --fail-on` takes.
#ifndef RIVULET_APP_VERDICT_JSON_H
#define RIVULET_APP_VERDICT_JSON_H

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "rivulet/check.h"

namespace rivulet {

// {"video": {"packets": N, "cc_errors": N, "lost_packets": N, "tei": N,
// "scrambled": N}, "audio": ..., every kind} and "gaps": [{"kind":
// "clock_jump", "offset": N, "pcr_s": S or null}, ...], "gaps_count": N.
nlohmann::ordered_json stretchJSON(const TS_StretchCounts& stretch);
// "video", ... of a TS_KIND_; "other" past them.
const char* kindName(uint8_t kind);
// "verdict": "clean" or "damaged", "reasons": ["drops", ...].
nlohmann::ordered_json verdictJSON(const TS_StretchCounts& stretch);

// "drops,gaps": the TS_DAMAGE_ bits named, in *bits; false at the first
// word that names none, which goes to *unknown.
bool parseDamage(std::string_view list, uint8_t* bits, std::string* unknown);
// "drops, gaps": the words of the bits set.
std::string damageWords(uint8_t bits);

}  // namespace rivulet

#endif
