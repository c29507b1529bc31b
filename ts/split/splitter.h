// What the file split needs of the splitter beyond its public interface:
// a failure's status at its creation, and the legacy records; and the run's
// tables, for a look at what they reassembled.
#ifndef RIVULET_SPLITTER_H
#define RIVULET_SPLITTER_H

#include "rivulet/file_split.h"
#include "rivulet/split.h"
#include "ts/section/eit_present.h"
#include "ts/stream/packet_walk.h"
#include "ts/tables/table_decoder.h"

namespace rivulet {

// TS_Splitter_Open, with the status the file split returns when it fails.
TS_Splitter* splitterCreate(const char* basePath, const TS_SplitOptions* options, int32_t* status);
// Ends the input: TS_Splitter_Close without freeing the splitter.
int32_t splitterClose(TS_Splitter* splitter);
// What the legacy records (g_tPNSplitData, g_tData.tPAT, g_strString1/2)
// show of a run.
struct SplitterView {
    const TS_PNSplitEntry* pEntries;  // every entry of the run...
    uint32_t u32Entries;              // ...of which there are this many
    const TS_PAT* pPAT;
    const char* strStem;
    const char* strPath;
};
SplitterView splitterView(const TS_Splitter* splitter);

// What a splitter cutting at events (u8Events) would do, told instead of done:
// each announcement of a present event, at the input offset of the packet
// that completed it, and each file that would open, with its event_id
// (-1 for a stretch before any), at the offset of its first packet.
struct CutListener {
    void* pUser;
    void (*announced)(void* pUser, uint16_t program, const PresentEvent& event, uint64_t offset);
    void (*opened)(void* pUser, uint16_t program, uint16_t duplicate, int32_t eventId, uint64_t offset);
};
// From now on, `listener` (null: none) is told, and no file is written.
void splitterListen(TS_Splitter* splitter, const CutListener* listener);
void splitterDestroy(TS_Splitter* splitter);
// The run's table decoder, which every reader of the split's tables reads through.
const TableDecoder& splitterTables(const TS_Splitter* splitter);
// The same, for another reader of the run to subscribe to before the first packet.
TableDecoder* splitterTableDecoder(TS_Splitter* splitter);

}  // namespace rivulet

#endif
