// The stages at the end of a program's output, each against an in-memory
// sink: the report tap hands every call on unchanged and tells the report
// what the sink did; the listening sink tells a listener of each file.

#include <map>

#include "tests/support/test.h"
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
