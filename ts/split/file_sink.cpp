#include "ts/split/file_sink.h"

#include "rivulet/common.h"

namespace rivulet {
namespace {

FileSink& fileSinkOf(OutputStage* stage) { return *reinterpret_cast<FileSink*>(stage); }
const FileSink& fileSinkOf(const OutputStage* stage) { return *reinterpret_cast<const FileSink*>(stage); }

UnitOrigin sinkArrived(OutputStage*, const uint8_t*, const TS_Packet&, uint64_t offset) { return plainOrigin(offset); }

int32_t fileOpen(OutputStage* stage, uint32_t slot, const FileToOpen& file) {
    FileSink& sink = fileSinkOf(stage);
    FileNaming& naming = *sink.pNaming;
    bool fits = nameFile(naming, sink.pFiles->tPlace, *sink.pFormat, file);
    const char* path = fits ? naming.strPath : nullptr;
    bool opened = outputSetOpen(sink.pFiles, slot, path, naming.strPath, outputUnitSize(*sink.pFormat));
    return opened ? 0 : TS_ERR_OPEN_OUTPUT;
}

int32_t fileWrite(OutputStage* stage, uint32_t slot, const uint8_t* unit, bool copy, const UnitOrigin&) {
    return fileSinkWrite(fileSinkOf(stage), slot, unit, copy);
}

int32_t fileMove(OutputStage* stage, uint32_t from, uint32_t to) {
    return outputSetMove(fileSinkOf(stage).pFiles, from, to) ? 0 : TS_ERR_NO_MEMORY;
}

int32_t fileClose(OutputStage* stage, uint32_t slot) {
    OutputSet* files = fileSinkOf(stage).pFiles;
    return outputSetIsOpen(files, slot) ? outputClose(outputSetFile(files, slot)) : 0;
}

bool fileIsOpen(const OutputStage* stage, uint32_t slot) { return outputSetIsOpen(fileSinkOf(stage).pFiles, slot); }

const char* filePath(const OutputStage* stage, uint32_t slot) {
    const OutputFile* file = outputSetFile(fileSinkOf(stage).pFiles, slot);
    return file ? file->strPath : "";
}

uint64_t fileWritten(const OutputStage* stage, uint32_t slot) {
    return outputSetWritten(fileSinkOf(stage).pFiles, slot);
}

constexpr OutputStageCalls kFileSinkCalls{sinkArrived, fileOpen,   fileWrite, fileMove,
                                          fileClose,   fileIsOpen, filePath,  fileWritten};

int32_t listenOpen(OutputStage* stage, uint32_t, const FileToOpen& file) {
    const CutListener& listener = *reinterpret_cast<ListenSink*>(stage)->pListener;
    listener.opened(listener.pUser, file.pEntry->u16ProgramNumber, file.pEntry->u16Duplicate, file.nEvent,
                    file.u64Offset);
    return 0;
}

int32_t listenWrite(OutputStage*, uint32_t, const uint8_t*, bool, const UnitOrigin&) { return 0; }
int32_t listenMove(OutputStage*, uint32_t, uint32_t) { return 0; }
int32_t listenClose(OutputStage*, uint32_t) { return 0; }
bool listenIsOpen(const OutputStage*, uint32_t) { return false; }
const char* listenPath(const OutputStage*, uint32_t) { return ""; }
uint64_t listenWritten(const OutputStage*, uint32_t) { return 0; }

constexpr OutputStageCalls kListenSinkCalls{sinkArrived, listenOpen,   listenWrite, listenMove,
                                            listenClose, listenIsOpen, listenPath,  listenWritten};

Growable<uint8_t>& openOf(OutputStage* stage) { return reinterpret_cast<NullSink*>(stage)->open; }

bool setOpen(OutputStage* stage, uint32_t slot, uint8_t open) {
    Growable<uint8_t>& slots = openOf(stage);
    if (slot >= slots.u32Size && !growTo(slots, slot + 1)) return false;
    slots[slot] = open;
    return true;
}

int32_t nullOpen(OutputStage* stage, uint32_t slot, const FileToOpen&) {
    return setOpen(stage, slot, 1) ? 0 : TS_ERR_NO_MEMORY;
}

int32_t nullMove(OutputStage* stage, uint32_t from, uint32_t to) {
    const bool moved = from < openOf(stage).u32Size && openOf(stage)[from];
    return setOpen(stage, to, moved) && setOpen(stage, from, 0) ? 0 : TS_ERR_NO_MEMORY;
}

int32_t nullClose(OutputStage* stage, uint32_t slot) {
    if (slot < openOf(stage).u32Size) openOf(stage)[slot] = 0;
    return 0;
}

bool nullIsOpen(const OutputStage* stage, uint32_t slot) {
    const Growable<uint8_t>& slots = reinterpret_cast<const NullSink*>(stage)->open;
    return slot < slots.u32Size && slots[slot];
}

constexpr OutputStageCalls kNullSinkCalls{sinkArrived, nullOpen,   listenWrite, nullMove,
                                          nullClose,   nullIsOpen, listenPath,  listenWritten};

}  // namespace

void fileSinkInit(FileSink* sink, OutputSet* files, FileNaming* naming, const PacketFormat* format) {
    *sink = FileSink{OutputStage{&kFileSinkCalls, nullptr}, files, naming, format};
}

void listenSinkInit(ListenSink* sink, const CutListener* listener) {
    *sink = ListenSink{OutputStage{&kListenSinkCalls, nullptr}, listener};
}

void nullSinkInit(NullSink* sink) { sink->tStage = OutputStage{&kNullSinkCalls, nullptr}; }

void nullSinkFree(NullSink* sink) { release(sink->open); }

}  // namespace rivulet
