// The sinks at the end of a program's output chain (output_stage.h): the
// file sink, which names each slot's file as it opens and writes it in the
// run's output set, and the listening sink, which writes nothing and tells
// a listener of each file that would open.
#ifndef RIVULET_FILE_SINK_H
#define RIVULET_FILE_SINK_H

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

struct ListenSink {
    OutputStage tStage;
    const CutListener* pListener;
};
void listenSinkInit(ListenSink* sink, const CutListener* listener);

}  // namespace rivulet

#endif
