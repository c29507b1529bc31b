// Fuzz target: packet header and adaptation field parsing, the payload cursor,
// the packet printers and the random access point detectors of every codec
// (fed the windows in turn), on each 188-byte window of the input (the last
// one padded with zeros). Every window lives in an allocation of exactly 188
// bytes, so a read past the packet is caught.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include "fuzz/fuzz_support.h"
#include "rivulet/ts.h"

namespace {

// Hands out the window's section bytes through every import variant until
// the cursor is done; a loop that made no progress would hang here.
void walkPayload(const TS_Packet& header, const uint8_t* packet) {
    using Import = int32_t (*)(TS_PreSection*, TS_Payload*);
    const Import imports[] = {TS_PAT_ImportPreSection, TS_CAT_ImportPreSection, TS_PMT_ImportPreSection,
                              TS_Section_ImportPreSection};
    auto slot = std::make_unique<TS_PreSection>();
    for (Import import : imports) {
        TS_PreSection_Initialise(slot.get());
        TS_Payload payload;
        TS_Payload_Begin(&payload, &header, packet);
        for (int calls = 0; TS_Payload_HasData(&payload); ++calls) {
            if (calls > int(TS_PACKET_SIZE)) __builtin_trap();
            import(slot.get(), &payload);
            if (payload.u16Pos > TS_PACKET_SIZE) __builtin_trap();
        }
    }
}

void fuzzWindow(const uint8_t* packet) {
    TS_Packet header;
    std::memset(&header, 0, sizeof header);
    if (TS_Packet_Get(&header, packet) != 0) return;
    TS_Packet_PrintHeader(&header);
    TS_Packet_Print(&header);
    TS_Packet_Print_RAW(packet);

    auto field = std::make_unique<TS_AdaptationField>();
    if (TS_Packet_GetAdaptationField(field.get(), &header, packet) == 0) {
        TS_Packet_PrintAdaptationField(field.get());
        TS_PCR pcr;
        TS_PCR_FromAdaptationField(&pcr, field.get());
        TS_PCR_Print(&pcr);
    }
    TS_PCR pcr;
    TS_PCR_Import(&pcr, packet + 5);
    TS_PCR_Print(&pcr);

    char name[256];
    TS_Header_PIDToString(name, header.PID);
    walkPayload(header, packet);
}

// Detectors read the windows as one PID's packets: a verdict is one of three.
struct Detectors {
    static constexpr uint8_t kStreamTypes[] = {0x02, 0x1B, 0x24, 0x06};
    TS_AccessPointDetector lt[std::size(kStreamTypes)];

    Detectors() {
        for (size_t i = 0; i < std::size(kStreamTypes); ++i) TS_AccessPoint_Initialise(&lt[i], kStreamTypes[i]);
    }
    void feed(const uint8_t* packet) {
        for (TS_AccessPointDetector& detector : lt) {
            int32_t verdict = TS_AccessPoint_Feed(&detector, packet);
            if (verdict < TS_ACCESS_NONE || verdict > TS_ACCESS_POINT) __builtin_trap();
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    rivulet::fuzz::discardStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first window as given (its sync byte may be wrong), then every
    // window with its sync byte forced so that parsing always goes deep.
    Detectors detectors;
    for (size_t offset = 0; offset == 0 || offset < size; offset += TS_PACKET_SIZE) {
        auto packet = std::make_unique<uint8_t[]>(TS_PACKET_SIZE);
        size_t n = size - offset < TS_PACKET_SIZE ? size - offset : TS_PACKET_SIZE;
        if (n) std::memcpy(packet.get(), data + offset, n);
        if (offset == 0) fuzzWindow(packet.get());
        packet[0] = TS_SYNC_BYTE;
        fuzzWindow(packet.get());
        detectors.feed(packet.get());
    }
    return 0;
}
