// The sinks at the end of a program's output chain (output_stage.h): the
// file sink, which names each slot's file as it opens and writes it in the
// run's output set; the listening sink, which writes nothing and tells a
// listener of each file that would open; and the null sink, which keeps
// files open as the file sink would and writes nothing, for a first pass
// that only looks.
#ifndef RIVULET_FILE_SINK_H
#define RIVULET_FILE_SINK_H

#include "rivulet/common.h"
#include "ts/core/growable.h"
#include "ts/output/output_set.h"
#include "ts/split/file_naming.h"
#include "ts/split/output_stage.h"
#include "ts/split/splitter.h"

namespace rivulet {

struct FileSink {
    OutputStage tStage;  // first: the chain knows the sink by it
    OutputSet* pFiles;
    FileNaming* pNaming;
    const PacketFormat* pFormat;  // of the input, known once its first packets are
};
void fileSinkInit(FileSink* sink, OutputSet* files, FileNaming* naming, const PacketFormat* format);
// The sink's write, for a caller that knows the chain is this sink alone.
inline int32_t fileSinkWrite(FileSink& sink, uint32_t slot, const uint8_t* unit, bool copy) {
    return outputSetWrite(sink.pFiles, slot, unit, outputUnitSize(*sink.pFormat), copy) == 0 ? 0 : TS_ERR_WRITE;
}

struct ListenSink {
    OutputStage tStage;
    const CutListener* pListener;
};
void listenSinkInit(ListenSink* sink, const CutListener* listener);

struct NullSink {
    OutputStage tStage;
    Growable<uint8_t> open;  // 1 for each slot whose file is open
};
void nullSinkInit(NullSink* sink);
void nullSinkFree(NullSink* sink);

}  // namespace rivulet

#endif
