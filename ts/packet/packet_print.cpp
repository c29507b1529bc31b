// Text dumps of transport packets: a one-line header summary with a name for
// the PID, and a hexadecimal dump of all 188 bytes.
#include <cstdio>

#include "rivulet/packets_sections.h"
#include "ts/core/name_table.h"

using rivulet::NameRange;
using rivulet::NameTable;

namespace {

// PID assignments of ISO/IEC 13818-1, table 2-3.
constexpr NameRange kPIDRanges[] = {
    {0x0000, 0x0000, "Program Association Table"},
    {0x0001, 0x0001, "Conditional Access Table"},
    {0x0002, 0x000F, "<reserved>"},
    {0x0010, 0x1FFE, "<assigned>"},
    {0x1FFF, 0x1FFF, "Null packet"},
};

constexpr NameTable kPIDNames = {{}, kPIDRanges, "?"};

// The dump counts the pointer_field position with the four header bytes.
constexpr uint32_t kRawHeaderBytes = 5;
constexpr uint32_t kRawBytesPerLine = 16;

void printHeaderLine(const char* label, const TS_Packet* packet) {
    char name[rivulet::kNameBufferSize];
    TS_Header_PIDToString(name, packet->PID);
    std::printf("[%s] TEI:%d PUSI:%d TP:%d PID:0x%04X(%s) TSC:%d AFC:%d CN:%d\n", label,
                packet->transport_error_indicator, packet->payload_unit_start_indicator,
                packet->transport_priority, unsigned(packet->PID), name,
                packet->transport_scrambling_control, packet->adaptation_field_control,
                packet->continuity_counter);
}

}  // namespace

int32_t TS_Header_PIDToString(char* buffer, int pid) {
    return rivulet::copyName(buffer, kPIDNames, uint16_t(pid));
}

int32_t TS_Packet_PrintHeader(const TS_Packet* packet) {
    if (!packet) return -1;
    printHeaderLine("TS Packet Header", packet);
    return 0;
}

int32_t TS_Packet_Print(const TS_Packet* packet) {
    if (!packet) return -1;
    printHeaderLine("TS Packet", packet);
    if (packet->adaptation_field_control & 2) {
        TS_Packet_PrintAdaptationField(&packet->adaptation_field);
    }
    return 0;
}

// The dump shows packet headers only: an adaptation field is parsed but not
// printed.
void TS_Packet_PrintAdaptationField(const TS_AdaptationField*) {}

int32_t TS_Packet_Print_RAW(const uint8_t* data) {
    if (!data) return -1;
    std::printf("[TS Packet]\n  Header: ");
    for (uint32_t i = 0; i < kRawHeaderBytes; ++i) std::printf("0x%02X, ", data[i]);
    std::printf("\n  Section:\n  ");
    // Lines break on the byte's index within the packet, so the first section
    // line holds bytes 5 to 15 and every further line starts at a multiple of 16.
    for (uint32_t i = kRawHeaderBytes; i < TS_PACKET_SIZE; ++i) {
        std::printf("0x%02X, ", data[i]);
        if (i % kRawBytesPerLine == kRawBytesPerLine - 1) std::printf("\n  ");
    }
    std::printf("\n");
    return 0;
}
