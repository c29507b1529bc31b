// Fuzz target: section reassembly and every table parser and printer. The
// input is cut into 188-byte packets (sync byte forced, the last one padded
// with zeros); each packet goes through the payload cursor into one slot per
// import variant, and every section a slot completes is parsed as a PAT, PMT,
// CAT and private section and printed by every printer. The raw input is also
// parsed as one descriptor with its exact size. Slots, records and packets
// are heap allocations of their exact size, so that reads and writes past
// them are caught; the large ones are made once and cleared for every use
// (mapping them afresh for each section would dominate the run time). The
// printers write into /dev/null.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "rivulet/ts.h"

namespace {

using Import = int32_t (*)(TS_PreSection*, TS_Payload*);
constexpr Import kImports[] = {TS_PAT_ImportPreSection, TS_CAT_ImportPreSection, TS_PMT_ImportPreSection,
                               TS_Section_ImportPreSection};
constexpr size_t kImportCount = sizeof kImports / sizeof kImports[0];

// One allocation per record kind, for the whole run.
struct Records {
    TS_PreSection* slots[kImportCount];
    TS_PAT* pat;
    TS_PMT* pmt;
    TS_CAT* cat;
    TS_Section_Private* section;
    TS_Descriptor* descriptor;
};
Records g_records;

template <class Record>
Record* cleared(Record* record) {
    std::memset(static_cast<void*>(record), 0, sizeof *record);
    return record;
}

void allocateRecords() {
    for (TS_PreSection*& slot : g_records.slots) slot = new TS_PreSection;
    g_records.pat = new TS_PAT;
    g_records.pmt = new TS_PMT;
    g_records.cat = new TS_CAT;
    g_records.section = new TS_Section_Private;
    g_records.descriptor = new TS_Descriptor;
}

void printDescriptors(const TS_Descriptor* descriptors, uint16_t count) {
    if (count > TS_MAX_DESCRIPTORS) __builtin_trap();
    for (uint16_t i = 0; i < count; ++i) TS_Descriptor_Print(&descriptors[i]);
}

void parsePAT(const TS_PreSection* slot, const TS_Packet& header) {
    TS_PAT* pat = cleared(g_records.pat);
    TS_PAT_FromPreSection(pat, slot);
    if (pat->program_count > TS_PAT_MAX_PROGRAMS) __builtin_trap();
    TS_PAT_Print(pat);
    TS_PAT_DroppedPrograms(pat);
    auto packet = std::make_unique<uint8_t[]>(TS_PACKET_SIZE);
    TS_PAT_ToPacket(packet.get(), &header, pat);
}

void parsePMT(const TS_PreSection* slot, const TS_Packet& header) {
    TS_PMT* pmt = cleared(g_records.pmt);
    TS_PMT_FromPreSection(pmt, slot, header.PID);
    if (pmt->stream_count > TS_PMT_MAX_STREAMS) __builtin_trap();
    TS_PMT_Print(pmt);
    printDescriptors(pmt->descriptors, pmt->descriptor_count);
    for (uint16_t s = 0; s < pmt->stream_count; ++s) {
        printDescriptors(pmt->streams[s].descriptors, pmt->streams[s].descriptor_count);
        TS_IsStreamPIDOfPMT(pmt, pmt->streams[s].elementary_PID);
    }
    uint16_t caPID;
    TS_GetCAPIDFromPMT(&caPID, pmt);
}

void parseCAT(const TS_PreSection* slot) {
    TS_CAT* cat = cleared(g_records.cat);
    TS_CAT_FromPreSection(cat, slot);
    TS_CAT_Print(cat);
    printDescriptors(cat->descriptors, cat->descriptor_count);
    uint16_t caPID;
    TS_GetCAPIDFromCAT(&caPID, cat);
}

void parsePrivate(const TS_PreSection* slot) {
    TS_Section_Private* section = cleared(g_records.section);
    TS_Section_PrivateFromPreSection(section, slot);
    if (TS_Section_PrivateDataLength(section) > TS_PRIVATE_DATA_SIZE) __builtin_trap();
    TS_Section_PrintPrivate(section);
    TS_Section_PrintEMM(section);
    uint64_t cardId;
    TS_Section_GetCardIdFromEMM(&cardId, section);
}

void onSection(const TS_PreSection* slot, const TS_Packet& header) {
    if (slot->received_length > TS_SECTION_BODY_SIZE) __builtin_trap();
    for (uint8_t tableId : {0x00, 0x01, 0x02}) TS_PreSection_Verify(slot, tableId);
    char name[256];
    TS_Section_TagToString(name, slot->body[0]);
    TS_Section_TagToString_ISO(name, slot->body[0]);
    parsePAT(slot, header);
    parsePMT(slot, header);
    parseCAT(slot);
    parsePrivate(slot);
}

void feedPacket(TS_PreSection* const* slots, const uint8_t* packet) {
    TS_Packet header;
    std::memset(&header, 0, sizeof header);
    TS_Packet_Get(&header, packet);
    TS_Packet_Print_RAW(packet);
    for (size_t v = 0; v < kImportCount; ++v) {
        TS_Payload payload;
        TS_Payload_Begin(&payload, &header, packet);
        for (int calls = 0; TS_Payload_HasData(&payload); ++calls) {
            if (calls > int(TS_PACKET_SIZE)) __builtin_trap();
            if (kImports[v](slots[v], &payload) == TS_SECTION_COMPLETE) onSection(slots[v], header);
        }
    }
    if (header.adaptation_field_control & 2) {
        TS_PCR pcr;
        TS_PCR_FromAdaptationField(&pcr, &header.adaptation_field);
        TS_PCR_Print(&pcr);
    }
}

// The raw input as one descriptor, by the dispatching parser (which picks
// the getter of its tag) and by the raw copy, then printed.
void parseRawDescriptor(const uint8_t* data, size_t size) {
    auto exact = std::make_unique<uint8_t[]>(size ? size : 1);
    if (size) std::memcpy(exact.get(), data, size);
    uint32_t n = uint32_t(size);
    TS_Descriptor* descriptor = cleared(g_records.descriptor);
    if (TS_GetDescriptor(descriptor, exact.get(), n) == 0) TS_Descriptor_Print(descriptor);
    if (TS_Descriptor_GetRAW(cleared(descriptor), exact.get(), n) == 0) TS_Descriptor_Print(descriptor);
    char name[256];
    if (size) {
        TS_DescriptorTagToString(name, data[0]);
        TS_Header_StreamTypeToString(name, data[0]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    rivulet::fuzz::discardStdout();
    allocateRecords();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TS_PreSection* const* slots = g_records.slots;
    for (size_t v = 0; v < kImportCount; ++v) TS_PreSection_Initialise(slots[v]);
    for (size_t offset = 0; offset < size; offset += TS_PACKET_SIZE) {
        auto packet = std::make_unique<uint8_t[]>(TS_PACKET_SIZE);
        size_t n = size - offset < TS_PACKET_SIZE ? size - offset : TS_PACKET_SIZE;
        std::memcpy(packet.get(), data + offset, n);
        packet[0] = TS_SYNC_BYTE;
        feedPacket(slots, packet.get());
    }
    parseRawDescriptor(data, size);
    std::fflush(stdout);
    return 0;
}
