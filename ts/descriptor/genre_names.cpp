// The genre words of the content descriptor (0x54): DVB's (EN 300 468,
// table 29) and ARIB's (STD-B10, the genre table), by content_nibble_level_1
// (the group) and content_nibble_level_2. Values in no table are reserved.
#include <array>
#include <initializer_list>

#include "rivulet/guide.h"

namespace {

constexpr size_t kNibbleValues = 16;
constexpr uint8_t kOtherNibble = 0xF;

// A group's words by level 2; null where reserved.
using Row = std::array<const char*, kNibbleValues>;

// `names` from level 2 value 0 on, and `other` at 0xF (ARIB's "other").
constexpr Row row(std::initializer_list<const char*> names, const char* other = nullptr) {
    Row words{};
    size_t at = 0;
    for (const char* name : names) words[at++] = name;
    words[kOtherNibble] = other;
    return words;
}

constexpr const char* kDVBGroups[kNibbleValues] = {
    nullptr, "Movie/Drama", "News/Current affairs", "Show/Game show", "Sports", "Children's/Youth programmes",
    "Music/Ballet/Dance", "Arts/Culture (without music)", "Social/Political issues/Economics",
    "Education/Science/Factual topics", "Leisure hobbies", "Special characteristics",
};

constexpr Row kDVBGenres[kNibbleValues] = {
    {},  // 0x0
    row({"movie/drama (general)", "detective/thriller", "adventure/western/war", "science fiction/fantasy/horror",
        "comedy", "soap/melodrama/folklore", "romance", "serious/classical/religious/historical movie/drama",
        "adult movie/drama"}),  // 0x1
    row({"news/current affairs (general)", "news/weather report", "news magazine", "documentary",
        "discussion/interview/debate"}),  // 0x2
    row({"show/game show (general)", "game show/quiz/contest", "variety show", "talk show"}),  // 0x3
    row({"sports (general)", "special events (Olympic Games, World Cup, etc.)", "sports magazines",
        "football/soccer", "tennis/squash", "team sports (excluding football)", "athletics", "motor sport",
        "water sport", "winter sports", "equestrian", "martial sports"}),  // 0x4
    row({"children's/youth programmes (general)", "pre-school children's programmes",
        "entertainment programmes for 6 to 14", "entertainment programmes for 10 to 16",
        "informational/educational/school programmes", "cartoons/puppets"}),  // 0x5
    row({"music/ballet/dance (general)", "rock/pop", "serious music/classical music", "folk/traditional music",
        "jazz", "musical/opera", "ballet"}),  // 0x6
    row({"arts/culture (without music, general)", "performing arts", "fine arts", "religion",
        "popular culture/traditional arts", "literature", "film/cinema", "experimental film/video",
        "broadcasting/press", "new media", "arts/culture magazines", "fashion"}),  // 0x7
    row({"social/political issues/economics (general)", "magazines/reports/documentary",
        "economics/social advisory", "remarkable people"}),  // 0x8
    row({"education/science/factual topics (general)", "nature/animals/environment", "technology/natural sciences",
        "medicine/physiology/psychology", "foreign countries/expeditions", "social/spiritual sciences",
        "further education", "languages"}),  // 0x9
    row({"leisure hobbies (general)", "tourism/travel", "handicraft", "motoring", "fitness and health", "cooking",
        "advertisement/shopping", "gardening"}),  // 0xA
    row({"original language", "black and white", "unpublished", "live broadcast", "plano-stereoscopic",
        "local or regional"}),  // 0xB
};

constexpr const char* kARIBGroups[kNibbleValues] = {
    "ニュース／報道", "スポーツ", "情報／ワイドショー", "ドラマ", "音楽", "バラエティ", "映画", "アニメ／特撮",
    "ドキュメンタリー／教養", "劇場／公演", "趣味／教育", "福祉", nullptr, nullptr, nullptr, "その他",
};

constexpr Row kARIBGenres[kNibbleValues] = {
    row({"定時・総合", "天気", "特集・ドキュメント", "政治・国会", "経済・市況", "海外・国際", "解説", "討論・会談",
        "報道特番", "ローカル・地域", "交通"}, "その他"),  // 0x0
    row({"スポーツニュース", "野球", "サッカー", "ゴルフ", "その他の球技", "相撲・格闘技", "オリンピック・国際大会",
        "マラソン・陸上・水泳", "モータースポーツ", "マリン・ウィンタースポーツ", "競馬・公営競技"}, "その他"),  // 0x1
    row({"芸能・ワイドショー", "ファッション", "暮らし・住まい", "健康・医療", "ショッピング・通販", "グルメ・料理",
        "イベント", "番組紹介・お知らせ"}, "その他"),  // 0x2
    row({"国内ドラマ", "海外ドラマ", "時代劇"}, "その他"),  // 0x3
    row({"国内ロック・ポップス", "海外ロック・ポップス", "クラシック・オペラ", "ジャズ・フュージョン",
        "歌謡曲・演歌", "ライブ・コンサート", "ランキング・リクエスト", "カラオケ・のど自慢", "民謡・邦楽",
        "童謡・キッズ", "民族音楽・ワールドミュージック"}, "その他"),  // 0x4
    row({"クイズ", "ゲーム", "トークバラエティ", "お笑い・コメディ", "音楽バラエティ", "旅バラエティ",
        "料理バラエティ"}, "その他"),  // 0x5
    row({"洋画", "邦画", "アニメ"}, "その他"),  // 0x6
    row({"国内アニメ", "海外アニメ", "特撮"}, "その他"),  // 0x7
    row({"社会・時事", "歴史・紀行", "自然・動物・環境", "宇宙・科学・医学", "カルチャー・伝統文化", "文学・文芸",
        "スポーツ", "ドキュメンタリー全般", "インタビュー・討論"}, "その他"),  // 0x8
    row({"現代劇・新劇", "ミュージカル", "ダンス・バレエ", "落語・演芸", "歌舞伎・古典"}, "その他"),  // 0x9
    row({"旅・釣り・アウトドア", "園芸・ペット・手芸", "音楽・美術・工芸", "囲碁・将棋", "麻雀・パチンコ",
        "車・オートバイ", "コンピュータ・ＴＶゲーム", "会話・語学", "幼児・小学生", "中学生・高校生",
        "大学生・受験", "生涯教育・資格", "教育問題"}, "その他"),  // 0xA
    row({"高齢者", "障害者", "社会福祉", "ボランティア", "手話", "文字（字幕）", "音声解説"}, "その他"),  // 0xB
    {},  // 0xC
    {},  // 0xD
    {},  // 0xE
    row({}, "その他"),  // 0xF
};

const char* orEmpty(const char* name) { return name ? name : ""; }

uint32_t levelOne(uint8_t nibbles) { return uint32_t(nibbles) >> 4; }
uint32_t levelTwo(uint8_t nibbles) { return uint32_t(nibbles) & kOtherNibble; }

}  // namespace

const char* TS_GenreName(uint8_t nibbles, uint8_t arib) {
    const Row* groups = arib ? kARIBGenres : kDVBGenres;
    return orEmpty(groups[levelOne(nibbles)][levelTwo(nibbles)]);
}

const char* TS_GenreGroupName(uint8_t nibbles, uint8_t arib) {
    const char* const* groups = arib ? kARIBGroups : kDVBGroups;
    return orEmpty(groups[levelOne(nibbles)]);
}
