// The PMT-change writer: cuts a single-program stream into one file per
// distinct PMT ("<base>_<CRC>.ts"), or writes only what runs under one chosen
// PMT into one file. A PMT that returns after another one goes on appending
// to its earlier file, which stays open until the end of the input.
#include <cstdio>
#include <cstring>
#include <new>

#include "rivulet/drivers.h"
#include "rivulet/file_split.h"
#include "ts/input/input_file.h"
#include "ts/output/output_names.h"
#include "ts/output/output_set.h"
#include "ts/pmt_split/pmt_split_walk.h"
#include "ts/stream/packet_format.h"

using namespace rivulet;

namespace {

constexpr int32_t kNotWritten = -1;
constexpr size_t kLongestSuffix = sizeof("_FFFFFFFF.m2ts") - 1;

struct SplitWriter {
    TS_PMTSplitData table;
    OutputSet files;  // file of table entry e
    uint8_t u8SplitAll;
    uint32_t u32SelectedCRC;
    const char* destPath;
    int32_t current;  // entry of the PMT last reported, kNotWritten when it has no file
    char strStem[TS_NAME_BUFFER_SIZE];
    char strPath[TS_NAME_BUFFER_SIZE];
    WrittenFiles* pWritten;
    LogSink tLog;  // where its messages go
};

void resetWriter(SplitWriter& g_writer, uint8_t splitAll, uint32_t pmtCRC, const char* destPath) {
    std::memset(&g_writer.table, 0, sizeof g_writer.table);
    for (TS_PMTSplitEntry& entry : g_writer.table.ltEntry) entry.nFD = -1;
    outputSetReset(&g_writer.files, -1, g_writer.pWritten, g_writer.tLog);
    g_writer.u8SplitAll = splitAll;
    g_writer.u32SelectedCRC = pmtCRC;
    g_writer.destPath = destPath;
    g_writer.current = kNotWritten;
}

int32_t closeAll(SplitWriter& g_writer) {
    for (uint16_t e = 0; e < g_writer.table.u16Count; ++e) g_writer.table.ltEntry[e].nFD = -1;
    return outputSetCloseAll(&g_writer.files, g_writer.table.u16Count);
}

bool usesDefaultNames(SplitWriter& g_writer) { return g_writer.u8SplitAll || !g_writer.destPath; }

// The path of the file for `crc`: the caller's, or one in strPath;
// null when it does not fit.
const char* outputPath(SplitWriter& g_writer, uint32_t crc, const char* extension) {
    if (!usesDefaultNames(g_writer)) return g_writer.destPath;
    int length = std::snprintf(g_writer.strPath, sizeof g_writer.strPath, "%s_%08X.%s", g_writer.strStem, crc, extension);
    return length >= 0 && size_t(length) < sizeof g_writer.strPath ? g_writer.strPath : nullptr;
}

int32_t openEntryFile(SplitWriter& g_writer, uint16_t e, uint32_t unit) {
    TS_PMTSplitEntry& entry = g_writer.table.ltEntry[e];
    if (outputSetIsOpen(&g_writer.files, e)) return 0;
    const char* path = outputPath(g_writer, entry.u32PMTCRC, unit == TS_PACKET_SIZE ? "ts" : "m2ts");
    if (!outputSetOpen(&g_writer.files, e, path, usesDefaultNames(g_writer) ? g_writer.strPath : g_writer.destPath, unit)) {
        return TS_ERR_PMT_SPLIT_OPEN_OUTPUT;
    }
    entry.nFD = outputSetFile(&g_writer.files, e)->nFD;
    return 0;
}

int32_t findEntry(SplitWriter& g_writer, uint32_t crc) {
    for (uint16_t e = 0; e < g_writer.table.u16Count; ++e) {
        if (g_writer.table.ltEntry[e].u32PMTCRC == crc) return e;
    }
    return kNotWritten;
}

int32_t entryOfEveryPMT(SplitWriter& g_writer, uint32_t crc) {
    int32_t e = findEntry(g_writer, crc);
    if (e != kNotWritten) return e;
    TS_PMTSplitData& table = g_writer.table;
    if (table.u16Count == TS_PMT_SPLIT_MAX_ENTRIES) {
        logMessage(g_writer.tLog, TS_LOG_ERROR, "Error: More than %u distinct PMTs.\n", TS_PMT_SPLIT_MAX_ENTRIES);
        return TS_ERR_TABLE_FULL;
    }
    table.ltEntry[table.u16Count].u32PMTCRC = crc;
    return table.u16Count++;
}

int32_t entryOfSelectedPMT(SplitWriter& g_writer, uint32_t crc) {
    if (crc != g_writer.u32SelectedCRC) return kNotWritten;
    g_writer.table.ltEntry[0].u32PMTCRC = crc;
    g_writer.table.u16Count = 1;
    return 0;
}

int32_t writerPMT(void* user, const TS_PMT* pmt, uint32_t unit) {
    SplitWriter& g_writer = *static_cast<SplitWriter*>(user);
    g_writer.current = kNotWritten;
    int32_t e = g_writer.u8SplitAll ? entryOfEveryPMT(g_writer, pmt->CRC_32) : entryOfSelectedPMT(g_writer, pmt->CRC_32);
    if (e == TS_ERR_TABLE_FULL) return e;
    if (e == kNotWritten) return 0;
    int32_t status = openEntryFile(g_writer, uint16_t(e), unit);
    if (status == 0) g_writer.current = e;
    return status;
}

int32_t writerPacket(void* user, const uint8_t* packet, uint32_t size) {
    SplitWriter& g_writer = *static_cast<SplitWriter*>(user);
    if (g_writer.current == kNotWritten) return 0;
    // Segment heads come from the walk's own copies, which change: copied.
    return outputSetWrite(&g_writer.files, uint32_t(g_writer.current), packet, size, true) == 0 ? 0 : TS_ERR_WRITE;
}

int32_t splitFile(SplitWriter& writer, const char* path, uint8_t splitAll, uint32_t pmtCRC, const char* destPath) {
    resetWriter(writer, splitAll, pmtCRC, destPath);
    if (usesDefaultNames(writer) && !outputNamesFit(path, kLongestSuffix, writer.tLog)) return TS_ERR_NAME_TOO_LONG;
    outputStem(writer.strStem, path, isLiveInput(path) ? "." : nullptr, nullptr);
    int inputFD = openInput(path, writer.tLog);
    if (inputFD < 0) return TS_ERR_OPEN_INPUT;
    writer.files.tPlace.inputFD = inputFD;

    PMTSplitSink sink{writerPMT, writerPacket, &writer, writer.tLog};
    bool sawPAT = false;
    int32_t status = walkPMTSplit(inputFD, path, &sink, &sawPAT);
    if (status == 0 && !sawPAT) warnNoPAT(path, writer.tLog);
    int32_t closed = closeAll(writer);
    closeInput(inputFD);
    return status != 0 ? status : closed;
}

}  // namespace

int32_t TS_PMTSplitFile(const char* path, uint8_t splitAll, uint32_t pmtCRC, const char* destPath) {
    if (!path) return -1;
    TS_InitialiseSimple(&g_tSimpleData);
    SplitWriter* writer = new (std::nothrow) SplitWriter;
    if (!writer) return TS_ERR_NO_MEMORY;
    writer->pWritten = writtenFilesCreate();
    writer->tLog = LogSink{};  // no options: standard error
    int32_t status = writer->pWritten ? splitFile(*writer, path, splitAll, pmtCRC, destPath) : TS_ERR_NO_MEMORY;
    writtenFilesDestroy(writer->pWritten);
    outputSetFree(&writer->files);
    delete writer;
    return status;
}
