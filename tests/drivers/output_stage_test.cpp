// The stages at the end of a program's output, each against an in-memory
// sink: the report tap hands every call on unchanged and tells the report
// what the sink did; the listening sink tells a listener of each file; the
// component stage leaves streams out and rebuilds the PMT.

#include <map>

#include "tests/support/test.h"
#include "ts/split/component_stage.h"
#include "ts/split/file_sink.h"
#include "ts/split/report_tap.h"

namespace {

using namespace rivulet;

// A sink that keeps each open slot's file in memory and refuses slot 9.
struct MemorySink {
    OutputStage tStage;
    std::map<uint32_t, Bytes> files;
    std::map<uint32_t, Bytes> closed;
};

MemorySink& memoryOf(const OutputStage* stage) { return *reinterpret_cast<MemorySink*>(const_cast<OutputStage*>(stage)); }

UnitOrigin memoryArrived(OutputStage*, const uint8_t*, const TS_Packet&, uint64_t offset) { return plainOrigin(offset); }

int32_t memoryOpen(OutputStage* stage, uint32_t slot, const FileToOpen&) {
    if (slot == 9) return TS_ERR_OPEN_OUTPUT;
    memoryOf(stage).files[slot] = {};
    return 0;
}

int32_t memoryWrite(OutputStage* stage, uint32_t slot, const uint8_t* unit, bool, const UnitOrigin&) {
    tsb::append(memoryOf(stage).files.at(slot), Bytes(unit, unit + TS_PACKET_SIZE));
    return 0;
}

int32_t memoryMove(OutputStage* stage, uint32_t from, uint32_t to) {
    MemorySink& sink = memoryOf(stage);
    sink.files[to] = sink.files.at(from);
    sink.files.erase(from);
    return 0;
}

int32_t memoryClose(OutputStage* stage, uint32_t slot) {
    MemorySink& sink = memoryOf(stage);
    if (!sink.files.count(slot)) return 0;
    sink.closed[slot] = sink.files[slot];
    sink.files.erase(slot);
    return 0;
}

bool memoryIsOpen(const OutputStage* stage, uint32_t slot) { return memoryOf(stage).files.count(slot) == 1; }
const char* memoryPath(const OutputStage*, uint32_t) { return "memory"; }
uint64_t memoryWritten(const OutputStage* stage, uint32_t slot) { return memoryOf(stage).closed[slot].size(); }

constexpr OutputStageCalls kMemoryCalls{memoryArrived, memoryOpen,   memoryWrite, memoryMove,
                                        memoryClose,   memoryIsOpen, memoryPath,  memoryWritten};

Bytes esPacket(uint16_t pid, uint8_t cc) { return tsb::esPacket(pid, cc); }

}  // namespace

// A file opened at slot 3, moved to 4 (as a cut's older file) and closed:
// the sink holds every unit the tap was handed, and the report says what
// the sink holds, its lost packet included; a refused file is not reported.
TEST(OutputStages, TheReportTapReportsWhatTheSinkHolds) {
    MemorySink sink{{&kMemoryCalls, nullptr}, {}, {}};
    TS_SplitFileList list{};
    SplitReportState* state = splitReportCreate(&list);
    ReportTap tap;
    reportTapInit(&tap, state, &kPlainFormat, &sink.tStage);
    OutputStage* chain = &tap.tStage;
    const TS_PNSplitEntry entry{7, 0x100, 0, 2, -1};
    const Bytes packets[] = {esPacket(0x101, 0), esPacket(0x101, 2), esPacket(0x101, 3)};
    EXPECT_EQ(stageOpen(chain, 3, {&entry, 0, false, -1}), 0);
    EXPECT_EQ(stageOpen(chain, 9, {&entry, 0, false, -1}), TS_ERR_OPEN_OUTPUT);
    for (size_t i = 0; i < 3; ++i) {
        TS_Packet header{};
        TS_Packet_GetHeader(&header, packets[i].data());
        UnitOrigin origin = stageArrived(chain, packets[i].data(), header, 188 * i);
        EXPECT_EQ(stageWrite(chain, i == 0 ? 3 : 4, packets[i].data(), false, origin), 0);
        if (i == 0) {
            EXPECT_EQ(stageMove(chain, 3, 4), 0);
        }
    }
    EXPECT_EQ(stageClose(chain, 4), 0);
    EXPECT_EQ(tsb::hex(sink.closed[4]), tsb::hex(tsb::concat({packets[0], packets[1], packets[2]})));
    ASSERT_EQ(list.u32Count, 1u);
    const TS_SplitFileReport& file = list.ltFile[0];
    EXPECT_STREQ(file.strPath, "memory");
    EXPECT_EQ(file.u16ProgramNumber, 7);
    EXPECT_EQ(file.u64Revision, 2u);
    EXPECT_EQ(file.u64Packets, 3u);
    EXPECT_EQ(file.u64CCErrors, 1u);
    EXPECT_EQ(file.u64FirstOffset, 0u);
    EXPECT_EQ(file.u64LastOffset, 3u * 188 - 1);
    splitReportDestroy(state);
    TS_SplitFileList_Release(&list);
}

TEST(OutputStages, TheListeningSinkTellsEachFileAndWritesNothing) {
    struct Told {
        uint16_t program;
        uint16_t duplicate;
        int32_t event;
        uint64_t offset;
        bool operator==(const Told&) const = default;
    };
    static std::vector<Told> told;
    CutListener listener{nullptr, nullptr, [](void*, uint16_t program, uint16_t duplicate, int32_t event, uint64_t offset) {
                             told.push_back({program, duplicate, event, offset});
                         }};
    ListenSink sink;
    listenSinkInit(&sink, &listener);
    const TS_PNSplitEntry entry{5, 0x100, 1, 0, -1};
    const Bytes packet = esPacket(0x101, 0);
    EXPECT_EQ(stageOpen(&sink.tStage, 0, {&entry, 376, true, 12}), 0);
    EXPECT_EQ(stageWrite(&sink.tStage, 0, packet.data(), true, kBuiltUnit), 0);
    EXPECT_FALSE(stageIsOpen(&sink.tStage, 0));
    EXPECT_TRUE((told == std::vector<Told>{{5, 1, 12, 376}}));
}

namespace {

Bytes languageDescriptor(const char* code) { return tsb::descriptor(0x0A, {uint8_t(code[0]), uint8_t(code[1]), uint8_t(code[2]), 0}); }

// Program 1 on PMT PID 0x100 (an ECM on 0x1F0 for all of it), one stream of
// each component, and one more of some, on 0x101 on.
const std::vector<tsb::Stream> kStreams = {
    {0x1B, 0x101, {}},                                                         // video, the PCR PID
    {0x03, 0x102, languageDescriptor("zho")},                                  // audio
    {0x03, 0x103, languageDescriptor("fra")},                                  // audio
    {0x06, 0x104, tsb::concat({tsb::descriptor(0x59, {'f', 'r', 'a', 0x10, 0, 1, 0, 1}),
                               tsb::caDescriptor(0x0B00, 0x1F1)})},             // DVB subtitles, its own ECM
    {0x06, 0x105, tsb::descriptor(0x56, {'d', 'e', 'u', 0x09, 0x00})},          // teletext
    {0x05, 0x106, tsb::descriptor(0x6F, {0x00, 0x10, 0x81})},                  // application signalling
    {0x86, 0x107, {}},                                                         // SCTE-35
    {0x06, 0x108, {}},                                                         // unknown
    {0x06, 0x109, tsb::concat({tsb::descriptor(0x52, {0x30}), tsb::descriptor(0xFD, {0x00, 0x08})})},  // ARIB captions
    {0x06, 0x10A, tsb::concat({tsb::descriptor(0x52, {0x38}), tsb::descriptor(0xFD, {0x00, 0x08})})},  // superimpose
    {0x0D, 0x10B, tsb::descriptor(0x52, {0x40})},                              // ARIB data broadcasting
    {0x06, 0x10C, tsb::descriptor(0x45, {0x01, 0x01, 0x15})},                  // VBI data
    {0x06, 0x10D, tsb::descriptor(0x66, {0x00, 0x0B})},                        // data_broadcast_id
    {0x06, 0x10E, tsb::descriptor(0x64, {0x00, 0x0B, 0x00, 0x00, 'e', 'n', 'g', 0x00})},  // data_broadcast
    {0x03, 0x10F, tsb::concat({languageDescriptor("qad"), tsb::descriptor(0x7F, {0x06, 0x85, 'd', 'e', 'u'})})},  // deu described
    {0x06, 0x110, tsb::concat({tsb::descriptor(0x52, {0x87}), tsb::descriptor(0xFD, {0x00, 0x12, 0x3D})})},  // one-segment captions
    {0x06, 0x111, tsb::descriptor(0x52, {0x2F})},                              // a component tag below captions': unknown
    {0x0A, 0x112, {}},                                                         // DSM-CC multiprotocol encapsulation
};

Bytes programCA() { return tsb::caDescriptor(0x0B00, 0x1F0); }

uint32_t bit(uint8_t component) { return 1u << component; }

// The stage in front of a memory sink, slot 0 open for program 1.
struct ComponentRun {
    MemorySink sink{{&kMemoryCalls, nullptr}, {}, {}};
    ComponentStage* stage;
    TS_PNSplitEntry entry{1, 0x100, 0, 0, -1};
    std::string log;

    explicit ComponentRun(const ComponentChoice& choice, uint8_t stable = 0) {
        stage = componentStageCreate(choice, stable, nullptr, &kPlainFormat, LogSink{[](void* user, int32_t, const char* text) {
                                                               *static_cast<std::string*>(user) += text;
                                                           }, &log},
                                     &sink.tStage);
        EXPECT_EQ(stageOpen(&stage->tStage, 0, {&entry, 0, false, -1}), 0);
    }
    ~ComponentRun() { componentStageDestroy(stage); }
    void write(const Bytes& packet) { EXPECT_EQ(stageWrite(&stage->tStage, 0, packet.data(), false, plainOrigin(0)), 0); }
    const Bytes& file() { return sink.files.at(0); }
};

}  // namespace

// For each choice: the file's PMT lists the streams kept, in order, their
// descriptors and the program's as they were; the packets of the streams
// left out, and of an ECM PID that only they name, are gone; every other
// packet is as it came. A section repeated is rebuilt alike, its next
// version anew.
TEST(OutputStages, TheComponentStageLeavesStreamsOutAndRebuildsThePMT) {
    const struct {
        uint32_t drop;
        const char* audio;
        std::vector<uint16_t> left;  // the PIDs left out
        const char* warning;
        std::vector<tsb::Stream> streams = kStreams;
    } cases[] = {
        {bit(TS_COMPONENT_AUDIO), nullptr, {0x102, 0x103, 0x10F}, ""},
        {bit(TS_COMPONENT_SUBTITLES), nullptr, {0x104, 0x109, 0x110, 0x1F1}, ""},
        {bit(TS_COMPONENT_SUPERIMPOSE), nullptr, {0x10A}, ""},
        {bit(TS_COMPONENT_TELETEXT), nullptr, {0x105, 0x10C}, ""},
        {bit(TS_COMPONENT_DATA), nullptr, {0x106, 0x10B, 0x10D, 0x10E, 0x112}, ""},
        {bit(TS_COMPONENT_SCTE35) | bit(TS_COMPONENT_UNKNOWN), nullptr, {0x107, 0x108, 0x111}, ""},
        {0, "fra", {0x102, 0x10F}, ""},
        {0, "ZHO,FRA", {0x10F}, ""},
        {0, "first", {0x103, 0x10F}, ""},
        {0, "deu,pol", {0x102, 0x103}, ""},
        {0, "qad", {0x102, 0x103}, ""},
        {0, "spa,zra", {0x103, 0x10F},
         "Warning: program 1 has no audio stream in the languages asked for (it has zho,fra,qad); its first is kept.\n"},
        {bit(TS_COMPONENT_SUBTITLES), "fra", {0x102, 0x104, 0x109, 0x110, 0x1F1, 0x10F}, ""},
        {0, "zho", {0x101}, "", {{0x03, 0x101, languageDescriptor("fra")}, {0x03, 0x102, languageDescriptor("zho")}}},  // radio
        {0, "first", {0x102}, "", {{0x03, 0x101, languageDescriptor("fra")}, {0x03, 0x102, languageDescriptor("zho")}}},
        // A section past 255 bytes rebuilt shorter.
        {bit(TS_COMPONENT_AUDIO), nullptr, {0x102}, "", {{0x02, 0x101, {}}, {0x03, 0x102, tsb::concat({{0x80, 250}, Bytes(250, 0xA5)})}}},
        {bit(TS_COMPONENT_AUDIO), nullptr, {}, "", {}},  // no stream to leave out, none kept: no warning
    };
    for (const auto& c : cases) {
        ComponentChoice choice{};
        choice.u32Drop = c.drop;
        ASSERT_TRUE(!c.audio || parseAudioChoice(c.audio, &choice));
        ComponentRun run(choice);
        uint8_t cc = 5;
        for (const Bytes& p : tsb::packetize(0x100, tsb::pmtSection(1, 0x101, programCA(), c.streams), cc)) run.write(p);
        Bytes kept;
        std::vector<tsb::Stream> listed;
        for (const tsb::Stream& stream : c.streams) {
            if (std::find(c.left.begin(), c.left.end(), stream.pid) == c.left.end()) listed.push_back(stream);
        }
        uint8_t rebuiltCC = uint8_t((cc - 1) & 0x0F);  // that of the packet completing the section
        for (const Bytes& p : tsb::packetize(0x100, tsb::pmtSection(1, 0x101, programCA(), listed), rebuiltCC)) tsb::append(kept, p);
        for (uint16_t pid = 0x101; pid <= 0x112; ++pid) {
            const Bytes packet = tsb::esPacket(pid, cc);
            run.write(packet);
            if (std::find(c.left.begin(), c.left.end(), pid) == c.left.end()) tsb::append(kept, packet);
        }
        for (uint16_t pid : {0x1F0, 0x1F1, 0x12, 0x10}) {
            const Bytes packet = tsb::esPacket(pid, cc);
            run.write(packet);
            if (std::find(c.left.begin(), c.left.end(), pid) == c.left.end()) tsb::append(kept, packet);
        }
        // The section again, then its next version, of the same length.
        for (uint8_t version : {0, 1}) {
            for (const Bytes& p : tsb::packetize(0x100, tsb::pmtSection(1, 0x101, programCA(), c.streams, version), cc)) run.write(p);
            for (const Bytes& p : tsb::packetize(0x100, tsb::pmtSection(1, 0x101, programCA(), listed, version), rebuiltCC)) tsb::append(kept, p);
        }
        EXPECT_EQ(tsb::hex(run.file()), tsb::hex(kept)) << c.drop << " " << (c.audio ? c.audio : "");
        EXPECT_EQ(run.log, c.warning);
    }
}

// A PMT section too short to hold PCR_PID and program_info_length, its
// CRC right: nothing to rebuild, nothing written for it.
TEST(OutputStages, TheComponentStageWritesNothingForAPMTTooShortToRebuild) {
    ComponentChoice choice{};
    choice.u32Drop = bit(TS_COMPONENT_AUDIO);
    ComponentRun run(choice);
    uint8_t cc = 0;
    for (const Bytes& p : tsb::packetize(0x100, tsb::section(TS_TABLE_ID_PMT, 1, 0, {0xE1, 0x01}), cc)) run.write(p);
    EXPECT_EQ(tsb::hex(run.file()), "");
}

// Video left out of a program whose PCR it carries: each of its packets
// with a PCR stays, as an adaptation field alone, stuffed, its counter that
// of the first throughout; every stream left out, the file says so once.
TEST(OutputStages, TheComponentStageKeepsTheClockOfAStreamLeftOut) {
    ComponentChoice choice{};
    choice.u32Drop = 0xFF;
    ComponentRun run(choice);
    uint8_t cc = 0;
    for (int i = 0; i < 2; ++i) {
        for (const Bytes& p : tsb::packetize(0x100, tsb::pmtSection(1, 0x101, {}, kStreams), cc)) run.write(p);
    }
    run.write(tsb::packet({.pid = 0x101, .pusi = true, .cc = 3, .hasAdaptation = true,
                           .adaptation = tsb::pcrAdaptation(0x1FFFFFFFF, 0x1FF), .payload = {0, 0, 1, 0xE0}}));
    run.write(tsb::esPacket(0x101, cc));
    run.write(tsb::packet({.pid = 0x101, .cc = 4, .hasAdaptation = true, .adaptation = {0x50, 0, 0, 0, 0, 0x7E, 0x00, 0xAB}}));
    run.write(tsb::packet({.pid = 0x101, .cc = 5, .hasAdaptation = true, .adaptation = {0x6F, 0, 0, 0, 0, 0x7E, 0x00}}));  // no PCR
    const Bytes pmt = tsb::psiPacket(0x100, 1, tsb::pmtSection(1, 0x101, {}, {}));  // the counter of the packet completing it
    const Bytes stuffing(176, 0xFF);
    const Bytes first = tsb::concat({{0x47, 0x01, 0x01, 0x23, 183, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, stuffing});
    const Bytes second = tsb::concat({{0x47, 0x01, 0x01, 0x23, 183, 0x50, 0, 0, 0, 0, 0x7E, 0x00, 0xAB}, Bytes(175, 0xFF)});
    EXPECT_EQ(tsb::hex(run.file()), tsb::hex(tsb::concat({pmt, tsb::psiPacket(0x100, 2, tsb::pmtSection(1, 0x101, {}, {})), first, second})));
    EXPECT_EQ(run.log, "Warning: program 1 keeps none of its streams; its file holds its PAT, PMT and clock.\n");
}

TEST(OutputStages, AudioChoicesAreFirstOrThreeLetterCodes) {
    EXPECT_STREQ(TS_ComponentName(TS_COMPONENT_COUNT), "unknown");  // past the table: no component
    EXPECT_STREQ(TS_StreamKindName(4), "data");                      // nor a kind
    for (const char* right : {"first", "zho", "AAA,zzz,ZZa"}) EXPECT_EQ(TS_CheckAudioChoice(right), 0) << right;
    for (const char* wrong : {"", "en", "english", "eng,", "eng;fra", "e1g", "e@g", "e[g", "e`g", "e{g", "eng,,fra", "Frist"}) {
        EXPECT_EQ(TS_CheckAudioChoice(wrong), TS_ERR_BAD_OPTION) << wrong;
    }
}

// Remapped: the PAT names the PMT on 0x1F0, which lists each kept stream on
// the PID of its kind, in order, PCR_PID with its stream, past a PID an ECM
// stays on; each packet of a stream moves, its counter and payload as they came.
TEST(OutputStages, TheComponentStageMovesStreamsToFixedPIDs) {
    ComponentChoice choice{};
    choice.u32Drop = bit(TS_COMPONENT_DATA);
    ComponentRun run(choice, TS_STABLE_REMAP);
    const std::vector<tsb::Stream> streams = {kStreams[1], kStreams[0], kStreams[3], kStreams[2], kStreams[5], kStreams[9]};
    const Bytes ca = tsb::caDescriptor(0x0B00, 0x110);
    run.write(tsb::psiPacket(0, 7, tsb::patSection(1, 0, {{0, 0x10}, {1, 0x100}})));
    uint8_t cc = 3;
    for (const Bytes& p : tsb::packetize(0x100, tsb::pmtSection(1, 0x101, ca, streams), cc)) run.write(p);
    Bytes want = tsb::psiPacket(0, 7, tsb::patSection(1, 0, {{0, 0x10}, {1, 0x1F0}}));
    std::vector<tsb::Stream> moved = {kStreams[1], kStreams[0], kStreams[3], kStreams[2], kStreams[9]};
    const uint16_t to[] = {0x111, 0x100, 0x130, 0x112, 0x138};
    for (size_t i = 0; i < moved.size(); ++i) moved[i].pid = to[i];
    tsb::append(want, tsb::psiPacket(0x1F0, 3, tsb::pmtSection(1, 0x100, ca, moved)));
    const uint16_t from[] = {0x102, 0x101, 0x104, 0x103, 0x10A};
    for (size_t i = 0; i < 5; ++i) {
        uint8_t inCounter = uint8_t(9 + i);
        uint8_t outCounter = inCounter;  // the same counter, on the new PID
        run.write(tsb::esPacket(from[i], inCounter));
        tsb::append(want, tsb::esPacket(to[i], outCounter));
    }
    run.write(tsb::esPacket(0x106, cc));
    for (uint16_t pid : {0x110, 0x1F1}) {  // the ECMs stay where they are
        const Bytes ecm = tsb::esPacket(pid, cc);
        run.write(ecm);
        tsb::append(want, ecm);
    }
    EXPECT_EQ(tsb::hex(run.file()), tsb::hex(want));
    EXPECT_EQ(run.log, "");

    // Two teletext streams, and one PID for teletext: the first moves (from
    // another high byte), the second keeps its own, as the warning says once.
    ComponentRun full(choice, TS_STABLE_REMAP);
    const std::vector<tsb::Stream> two = {{0x06, 0x905, kStreams[4].descriptors}, {0x06, 0x113, kStreams[4].descriptors}};
    cc = 0;
    for (int i = 0; i < 2; ++i) {
        for (const Bytes& p : tsb::packetize(0x100, tsb::pmtSection(1, 0x113, {}, two), cc)) full.write(p);
    }
    uint8_t counter = 4;
    full.write(tsb::esPacket(0x905, counter));
    full.write(tsb::esPacket(0x113, counter));
    std::vector<tsb::Stream> listed = two;
    listed[0].pid = 0x140;
    const Bytes pmt = tsb::pmtSection(1, 0x113, {}, listed);
    counter = 4;
    const Bytes movedPacket = tsb::esPacket(0x140, counter);
    const Bytes kept = tsb::esPacket(0x113, counter);
    EXPECT_EQ(tsb::hex(full.file()),
              tsb::hex(tsb::concat({tsb::psiPacket(0x1F0, 0, pmt), tsb::psiPacket(0x1F0, 1, pmt), movedPacket, kept})));
    EXPECT_EQ(full.log, "Warning: program 1 has more streams of a kind than remap has PIDs for; 0x0113 keeps its own.\n");
}
