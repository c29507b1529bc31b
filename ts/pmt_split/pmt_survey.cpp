// The PMT-change survey: the runs of identical PMTs of a single-program
// stream, in stream order, each with its PMT CRC, the number of earlier runs
// of the same PMT, and the bytes it adds to the output file of its PMT. The
// sizes are counted on the very packets the writer writes.
#include <cstdio>
#include <cstring>

#include "rivulet/drivers.h"
#include "rivulet/file_split.h"
#include "ts/input/input_file.h"
#include "ts/pmt_split/pmt_split_walk.h"
#include "ts/stream/packet_format.h"

using namespace rivulet;

namespace {

uint16_t earlierRunsOf(const TS_PMTSplitData& table, uint32_t crc) {
    uint16_t runs = 0;
    for (uint16_t e = 0; e < table.u16Count; ++e) runs += table.ltEntry[e].u32PMTCRC == crc;
    return runs;
}

// The table being filled, and where its message goes.
struct Survey {
    TS_PMTSplitData* pTable;
    LogSink tLog;
};

int32_t surveyPMT(void* user, const TS_PMT* pmt, uint32_t) {
    const Survey& survey = *static_cast<const Survey*>(user);
    TS_PMTSplitData& table = *survey.pTable;
    if (table.u16Count > 0 && table.ltEntry[table.u16Count - 1].u32PMTCRC == pmt->CRC_32) return 0;
    if (table.u16Count == TS_PMT_SPLIT_MAX_ENTRIES) {
        logMessage(survey.tLog, TS_LOG_ERROR, "Error: More than %u PMT runs.\n", TS_PMT_SPLIT_MAX_ENTRIES);
        return TS_ERR_TABLE_FULL;
    }
    TS_PMTSplitEntry& entry = table.ltEntry[table.u16Count];
    entry.u32PMTCRC = pmt->CRC_32;
    entry.u16Occurrence = earlierRunsOf(table, pmt->CRC_32);
    entry.u64Size = 0;
    ++table.u16Count;
    return 0;
}

int32_t surveyPacket(void* user, const uint8_t*, uint32_t size) {
    TS_PMTSplitData& table = *static_cast<const Survey*>(user)->pTable;
    if (table.u16Count > 0) table.ltEntry[table.u16Count - 1].u64Size += size;
    return 0;
}


}  // namespace

int32_t TS_CheckPMTSplit(TS_PMTSplitData* table, const char* path) {
    if (!table || !path) return -1;
    TS_InitialiseSimple(&g_tSimpleData);
    std::memset(table, 0, sizeof *table);
    const LogSink log{};  // no options: standard error
    int fd = openInput(path, log);
    if (fd < 0) return TS_ERR_OPEN_INPUT;
    Survey survey{table, log};
    PMTSplitSink sink{surveyPMT, surveyPacket, &survey, log};
    bool sawPAT = false;
    int32_t status = walkPMTSplit(fd, path, &sink, &sawPAT);
    closeInput(fd);
    return status;
}
