#include "ts/split/report_tap.h"

namespace rivulet {
namespace {

ReportTap& tapOf(OutputStage* stage) { return *reinterpret_cast<ReportTap*>(stage); }

UnitOrigin tapArrived(OutputStage* stage, const uint8_t* packet, const TS_Packet& header, uint64_t offset) {
    return splitReportArrived(tapOf(stage).pState, packet, header, offset);
}

int32_t tapOpen(OutputStage* stage, uint32_t slot, const FileToOpen& file) {
    int32_t status = stageOpen(stage->pNext, slot, file);
    if (status != 0 || !stageIsOpen(stage->pNext, slot)) return status;
    return splitReportOpened(tapOf(stage).pState, slot, stagePath(stage->pNext, slot), *file.pEntry,
                             file.u64Offset, file.bCutAtEvents, file.nEvent);
}

int32_t tapWrite(OutputStage* stage, uint32_t slot, const uint8_t* unit, bool copy, const UnitOrigin& origin) {
    int32_t status = stageWrite(stage->pNext, slot, unit, copy, origin);
    const PacketFormat& format = *tapOf(stage).pFormat;
    splitReportTook(tapOf(stage).pState, slot, unit + format.u32Prefix, format.u32Size, origin);
    return status;
}

int32_t tapMove(OutputStage* stage, uint32_t from, uint32_t to) {
    int32_t status = stageMove(stage->pNext, from, to);
    int32_t counted = splitReportMoved(tapOf(stage).pState, from, to);
    return status != 0 ? status : counted;
}

int32_t tapClose(OutputStage* stage, uint32_t slot) {
    int32_t status = stageClose(stage->pNext, slot);
    uint64_t written = stageWritten(stage->pNext, slot);
    splitReportClosed(tapOf(stage).pState, slot, written, outputUnitSize(*tapOf(stage).pFormat));
    return status;
}

bool tapIsOpen(const OutputStage* stage, uint32_t slot) { return stageIsOpen(stage->pNext, slot); }
const char* tapPath(const OutputStage* stage, uint32_t slot) { return stagePath(stage->pNext, slot); }
uint64_t tapWritten(const OutputStage* stage, uint32_t slot) { return stageWritten(stage->pNext, slot); }

constexpr OutputStageCalls kReportTapCalls{tapArrived, tapOpen,   tapWrite, tapMove,
                                           tapClose,   tapIsOpen, tapPath,  tapWritten};

}  // namespace

void reportTapInit(ReportTap* tap, SplitReportState* state, const PacketFormat* format, OutputStage* next) {
    *tap = ReportTap{OutputStage{&kReportTapCalls, next}, state, format};
}

}  // namespace rivulet
