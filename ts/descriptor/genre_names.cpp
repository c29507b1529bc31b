// The genre words of the content descriptor (0x54): DVB's (EN 300 468,
// table 29) and ARIB's (STD-B10, the genre table), one entry per value of
// content_nibble_level_1 << 4 | content_nibble_level_2. A level 1 of its own
// is the group (level 2 of 0xFF here). Values in no table are reserved.
#include <algorithm>
#include <iterator>

#include "rivulet/guide.h"

namespace {

struct Genre {
    uint8_t u8Nibbles;
    const char* name;
};

constexpr Genre kDVBGroups[] = {
    {0x1, "Movie/Drama"}, {0x2, "News/Current affairs"}, {0x3, "Show/Game show"}, {0x4, "Sports"},
    {0x5, "Children's/Youth programmes"}, {0x6, "Music/Ballet/Dance"}, {0x7, "Arts/Culture (without music)"},
    {0x8, "Social/Political issues/Economics"}, {0x9, "Education/Science/Factual topics"},
    {0xA, "Leisure hobbies"}, {0xB, "Special characteristics"},
};

constexpr Genre kDVBGenres[] = {
    {0x10, "movie/drama (general)"}, {0x11, "detective/thriller"}, {0x12, "adventure/western/war"},
    {0x13, "science fiction/fantasy/horror"}, {0x14, "comedy"}, {0x15, "soap/melodrama/folklore"},
    {0x16, "romance"}, {0x17, "serious/classical/religious/historical movie/drama"}, {0x18, "adult movie/drama"},
    {0x20, "news/current affairs (general)"}, {0x21, "news/weather report"}, {0x22, "news magazine"},
    {0x23, "documentary"}, {0x24, "discussion/interview/debate"},
    {0x30, "show/game show (general)"}, {0x31, "game show/quiz/contest"}, {0x32, "variety show"}, {0x33, "talk show"},
    {0x40, "sports (general)"}, {0x41, "special events (Olympic Games, World Cup, etc.)"}, {0x42, "sports magazines"},
    {0x43, "football/soccer"}, {0x44, "tennis/squash"}, {0x45, "team sports (excluding football)"},
    {0x46, "athletics"}, {0x47, "motor sport"}, {0x48, "water sport"}, {0x49, "winter sports"},
    {0x4A, "equestrian"}, {0x4B, "martial sports"},
    {0x50, "children's/youth programmes (general)"}, {0x51, "pre-school children's programmes"},
    {0x52, "entertainment programmes for 6 to 14"}, {0x53, "entertainment programmes for 10 to 16"},
    {0x54, "informational/educational/school programmes"}, {0x55, "cartoons/puppets"},
    {0x60, "music/ballet/dance (general)"}, {0x61, "rock/pop"}, {0x62, "serious music/classical music"},
    {0x63, "folk/traditional music"}, {0x64, "jazz"}, {0x65, "musical/opera"}, {0x66, "ballet"},
    {0x70, "arts/culture (without music, general)"}, {0x71, "performing arts"}, {0x72, "fine arts"},
    {0x73, "religion"}, {0x74, "popular culture/traditional arts"}, {0x75, "literature"}, {0x76, "film/cinema"},
    {0x77, "experimental film/video"}, {0x78, "broadcasting/press"}, {0x79, "new media"},
    {0x7A, "arts/culture magazines"}, {0x7B, "fashion"},
    {0x80, "social/political issues/economics (general)"}, {0x81, "magazines/reports/documentary"},
    {0x82, "economics/social advisory"}, {0x83, "remarkable people"},
    {0x90, "education/science/factual topics (general)"}, {0x91, "nature/animals/environment"},
    {0x92, "technology/natural sciences"}, {0x93, "medicine/physiology/psychology"},
    {0x94, "foreign countries/expeditions"}, {0x95, "social/spiritual sciences"}, {0x96, "further education"},
    {0x97, "languages"},
    {0xA0, "leisure hobbies (general)"}, {0xA1, "tourism/travel"}, {0xA2, "handicraft"}, {0xA3, "motoring"},
    {0xA4, "fitness and health"}, {0xA5, "cooking"}, {0xA6, "advertisement/shopping"}, {0xA7, "gardening"},
    {0xB0, "original language"}, {0xB1, "black and white"}, {0xB2, "unpublished"}, {0xB3, "live broadcast"},
    {0xB4, "plano-stereoscopic"}, {0xB5, "local or regional"},
};

constexpr Genre kARIBGroups[] = {
    {0x0, "ニュース／報道"}, {0x1, "スポーツ"}, {0x2, "情報／ワイドショー"}, {0x3, "ドラマ"}, {0x4, "音楽"},
    {0x5, "バラエティ"}, {0x6, "映画"}, {0x7, "アニメ／特撮"}, {0x8, "ドキュメンタリー／教養"},
    {0x9, "劇場／公演"}, {0xA, "趣味／教育"}, {0xB, "福祉"}, {0xF, "その他"},
};

constexpr Genre kARIBGenres[] = {
    {0x00, "定時・総合"}, {0x01, "天気"}, {0x02, "特集・ドキュメント"}, {0x03, "政治・国会"}, {0x04, "経済・市況"},
    {0x05, "海外・国際"}, {0x06, "解説"}, {0x07, "討論・会談"}, {0x08, "報道特番"}, {0x09, "ローカル・地域"},
    {0x0A, "交通"}, {0x0F, "その他"},
    {0x10, "スポーツニュース"}, {0x11, "野球"}, {0x12, "サッカー"}, {0x13, "ゴルフ"}, {0x14, "その他の球技"},
    {0x15, "相撲・格闘技"}, {0x16, "オリンピック・国際大会"}, {0x17, "マラソン・陸上・水泳"},
    {0x18, "モータースポーツ"}, {0x19, "マリン・ウィンタースポーツ"}, {0x1A, "競馬・公営競技"}, {0x1F, "その他"},
    {0x20, "芸能・ワイドショー"}, {0x21, "ファッション"}, {0x22, "暮らし・住まい"}, {0x23, "健康・医療"},
    {0x24, "ショッピング・通販"}, {0x25, "グルメ・料理"}, {0x26, "イベント"}, {0x27, "番組紹介・お知らせ"},
    {0x2F, "その他"},
    {0x30, "国内ドラマ"}, {0x31, "海外ドラマ"}, {0x32, "時代劇"}, {0x3F, "その他"},
    {0x40, "国内ロック・ポップス"}, {0x41, "海外ロック・ポップス"}, {0x42, "クラシック・オペラ"},
    {0x43, "ジャズ・フュージョン"}, {0x44, "歌謡曲・演歌"}, {0x45, "ライブ・コンサート"},
    {0x46, "ランキング・リクエスト"}, {0x47, "カラオケ・のど自慢"}, {0x48, "民謡・邦楽"}, {0x49, "童謡・キッズ"},
    {0x4A, "民族音楽・ワールドミュージック"}, {0x4F, "その他"},
    {0x50, "クイズ"}, {0x51, "ゲーム"}, {0x52, "トークバラエティ"}, {0x53, "お笑い・コメディ"},
    {0x54, "音楽バラエティ"}, {0x55, "旅バラエティ"}, {0x56, "料理バラエティ"}, {0x5F, "その他"},
    {0x60, "洋画"}, {0x61, "邦画"}, {0x62, "アニメ"}, {0x6F, "その他"},
    {0x70, "国内アニメ"}, {0x71, "海外アニメ"}, {0x72, "特撮"}, {0x7F, "その他"},
    {0x80, "社会・時事"}, {0x81, "歴史・紀行"}, {0x82, "自然・動物・環境"}, {0x83, "宇宙・科学・医学"},
    {0x84, "カルチャー・伝統文化"}, {0x85, "文学・文芸"}, {0x86, "スポーツ"}, {0x87, "ドキュメンタリー全般"},
    {0x88, "インタビュー・討論"}, {0x8F, "その他"},
    {0x90, "現代劇・新劇"}, {0x91, "ミュージカル"}, {0x92, "ダンス・バレエ"}, {0x93, "落語・演芸"},
    {0x94, "歌舞伎・古典"}, {0x9F, "その他"},
    {0xA0, "旅・釣り・アウトドア"}, {0xA1, "園芸・ペット・手芸"}, {0xA2, "音楽・美術・工芸"}, {0xA3, "囲碁・将棋"},
    {0xA4, "麻雀・パチンコ"}, {0xA5, "車・オートバイ"}, {0xA6, "コンピュータ・ＴＶゲーム"}, {0xA7, "会話・語学"},
    {0xA8, "幼児・小学生"}, {0xA9, "中学生・高校生"}, {0xAA, "大学生・受験"}, {0xAB, "生涯教育・資格"},
    {0xAC, "教育問題"}, {0xAF, "その他"},
    {0xB0, "高齢者"}, {0xB1, "障害者"}, {0xB2, "社会福祉"}, {0xB3, "ボランティア"}, {0xB4, "手話"},
    {0xB5, "文字（字幕）"}, {0xB6, "音声解説"}, {0xBF, "その他"},
    {0xFF, "その他"},
};

template <size_t N>
constexpr bool ascending(const Genre (&table)[N]) {
    for (size_t i = 1; i < N; ++i) {
        if (table[i - 1].u8Nibbles >= table[i].u8Nibbles) return false;
    }
    return true;
}
static_assert(ascending(kDVBGroups) && ascending(kDVBGenres) && ascending(kARIBGroups) && ascending(kARIBGenres),
              "each table in order, each value once");

template <size_t N>
const char* find(const Genre (&table)[N], uint8_t value) {
    const Genre* at = std::lower_bound(std::begin(table), std::end(table), value,
                                       [](const Genre& g, uint8_t v) { return g.u8Nibbles < v; });
    return at != std::end(table) && at->u8Nibbles == value ? at->name : "";
}

}  // namespace

const char* TS_GenreName(uint8_t nibbles, uint8_t arib) {
    return arib ? find(kARIBGenres, nibbles) : find(kDVBGenres, nibbles);
}

const char* TS_GenreGroupName(uint8_t nibbles, uint8_t arib) {
    return arib ? find(kARIBGroups, uint8_t(nibbles >> 4)) : find(kDVBGroups, uint8_t(nibbles >> 4));
}
