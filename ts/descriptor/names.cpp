// Names of table IDs, stream types and descriptor tags for the text dumps.
//
// The table-ID names cover ISO/IEC 13818-1 (0x00-0x02, DSM-CC) and the service
// information tables of DVB and ARIB STD-B10; the stream types follow the
// stream_type assignments of ISO/IEC 13818-1; the descriptor tags past those
// of ISO/IEC 13818-1's own table name a few later MPEG tags, the DVB
// descriptors from 0x40 and the ARIB STD-B10 descriptors from 0xC0.
#include "rivulet/descriptors.h"
#include "ts/core/name_table.h"
#include "ts/descriptor/descriptor_body.h"

using rivulet::lookupName;
using rivulet::NameEntry;
using rivulet::NameRange;
using rivulet::NameTable;

namespace {

constexpr const char* kUnknown = "?";

constexpr NameEntry kTableIdEntries[] = {
    {0x00, "PAT"},
    {0x01, "CAT"},
    {0x02, "maybe PMT"},
    {0x40, "NIT Self"},
    {0x41, "NIT Other"},
    {0x42, "SDT Self"},
    {0x46, "SDT Other"},
    {0x4A, "BAT"},
    {0x4E, "EIT Self"},
    {0x4F, "EIT Other"},
    {0x70, "TDT"},
    {0x71, "RST"},
    {0x72, "ST"},
    {0x73, "TOT"},
    {0x74, "AIT"},
    {0x7E, "DIT"},
    {0x7F, "SIT"},
    {0x82, "ECM ECM-S"},
    {0x83, "ECM ECM-S"},
    {0x84, "EMM EMM-S"},
    {0x85, "EMM EMM-S"},
    {0xC0, "DCT"},
    {0xC1, "DLT"},
    {0xC2, "PCAT"},
    {0xC3, "SDTT"},
    {0xC4, "BIT"},
    {0xC5, "NBIT Board"},
    {0xC6, "NBIT Reference"},
    {0xC7, "LDT"},
    {0xC8, "CDT"},
    {0xD0, "LIT"},
    {0xD1, "ERT"},
    {0xD2, "ITT"},
};

constexpr NameRange kTableIdRanges[] = {
    {0x3A, 0x3F, "DSM-CC Section"},
    {0x50, 0x5F, "EIT Self Scedule"},
    {0x60, 0x6F, "EIT Other Scedule"},
    {0x90, 0xBF, "<Carrier Definition>"},
};

constexpr NameTable kTableIdNames = {kTableIdEntries, kTableIdRanges, kUnknown};

constexpr NameEntry kTableIdIsoEntries[] = {
    {0x00, "program_association_section"},
    {0x01, "conditional_access_section"},
    {0x02, "TS_program_map_section"},
    {0xFF, "forbidden"},
};

constexpr NameRange kTableIdIsoRanges[] = {
    {0x03, 0x3F, "<reserved>"},
    {0x40, 0xFE, "<User private>"},
};

// The entries and ranges cover every table ID; the default is never reached.
constexpr NameTable kTableIdIsoNames = {kTableIdIsoEntries, kTableIdIsoRanges, kUnknown};

constexpr NameEntry kStreamTypeEntries[] = {
    {0x00, "<ISO/IEC Reserved>"},
    {0x01, "ISO/IEC 11172 Video"},
    {0x02, "ISO/IEC 13818-2 Video"},
    {0x03, "ISO/IEC 11172 Audio"},
    {0x04, "ISO/IEC 13818-3 Audio"},
    {0x05, "ISO/IEC 13818-1 Private sections"},
    {0x06, "ISO/IEC 13818-1 PES packets"},
    {0x07, "ISO/IEC 13522 MHEG"},
    {0x08, "ISO/IEC 13818-1 DSM CC"},
    {0x09, "H.222.1"},
    {0x0A, "ISO/IEC 13818-6 Type A"},
    {0x0B, "ISO/IEC 13818-6 Type B"},
    {0x0C, "ISO/IEC 13818-6 Type C"},
    {0x0D, "ISO/IEC 13818-6 Type D"},
    {0x0E, "ISO/IEC 13818-6 Auxiliary"},
    {0x0F, "ISO/IEC 13818-7 Audio"},
    {0x10, "ISO/IEC 14496-2 Video"},
    {0x11, "ISO/IEC 14496-3 / AMD 1"},
    {0x12, "ISO/IEC 14496-1 SL by PES Packet"},
    {0x13, "ISO/IEC 14496-1 SL by Section"},
    {0x14, "ISO/IEC 13818-6 Sync download protocol"},
    {0x15, "Metadata by PES Packet"},
    {0x16, "Metadata by Section"},
    {0x17, "Metadata by ISO/IEC 13818-6 Data carousel"},
    {0x18, "Metadata by ISO/IEC 13818-6 Object carousel"},
    {0x19, "Metadata by ISO/IEC 13818-6 Sync download protocol"},
    {0x1A, "ISO/IEC 13818-11 IPMP"},
    {0x1B, "ISO/IEC 14496-10 AVC Video"},
    {0x1C, "ISO/IEC 14496-3 Audio"},
    {0x1D, "ISO/IEC 14496-17 Text"},
    {0x1E, "ISO/IEC 23002-3 Sub video"},
    {0x1F, "IEC 14496-10 SVC Video sub bit"},
    {0x20, "IEC 14496-10 MVC Video sub bit"},
    {0x7F, "IPMP"},
};

constexpr NameRange kStreamTypeRanges[] = {
    {0x21, 0x7E, "<ISO/IEC 13818-1 Reserved>"},
    {0x80, 0xFF, "<User define>"},
};

// The entries and ranges cover every stream type; the default is never reached.
constexpr NameTable kStreamTypeNames = {kStreamTypeEntries, kStreamTypeRanges, kUnknown};

constexpr NameEntry kDescriptorTagEntries[] = {
    {0x13, "Carousel Identifier"},
    {0x14, "Association Tag"},
    {0x15, "Deferred Association tags"},
    {0x1C, "MPEG-4 Audio"},
    {0x28, "AVC Video"},
    {0x2A, "AVC timing and HRD"},
    {0x2E, "Extended MPEG-4 Audio"},
    {0x40, "Network Name"},
    {0x41, "Service List"},
    {0x42, "Stuffing"},
    {0x43, "Satellite Delivery System"},
    {0x44, "Wired Delivery System"},
    {0x47, "Bouquet Name"},
    {0x48, "Service"},
    {0x49, "Country Availability"},
    {0x4A, "Linkage"},
    {0x4B, "NVOD Reference"},
    {0x4C, "Time Shifted Service"},
    {0x4D, "Short Event"},
    {0x4E, "Extended Event"},
    {0x4F, "Time Shifted Event"},
    {0x50, "Component"},
    {0x51, "Mosaic"},
    {0x52, "Stream Identifier"},
    {0x53, "CA Identifier"},
    {0x54, "Content"},
    {0x55, "Parental Rating"},
    {0x58, "Local Time Offset"},
    {0x63, "Partial Transport Stream"},
    {0xC0, "Hierarchical Transmission"},
    {0xC1, "Digital Copy Control"},
    {0xC2, "Network Identification"},
    {0xC3, "Partial Transport Stream Time"},
    {0xC4, "Audio Component"},
    {0xC5, "Hyperlink"},
    {0xC6, "Target Region"},
    {0xC7, "Data Content"},
    {0xC8, "Video Decode Control"},
    {0xC9, "Download Content"},
    {0xCA, "CA EMM TS"},
    {0xCB, "CA Contract Information"},
    {0xCC, "CA Service"},
    {0xCD, "TS Information"},
    {0xCE, "Extended Broadcaster"},
    {0xCF, "Logo Transmission"},
    {0xD0, "Basic Local Event"},
    {0xD1, "Reference"},
    {0xD2, "Node Relation"},
    {0xD3, "Short Node Information"},
    {0xD4, "STC Reference"},
    {0xD5, "Series"},
    {0xD6, "Event Group"},
    {0xD7, "SI Parameter"},
    {0xD8, "Broadcaster Name"},
    {0xD9, "Component Group"},
    {0xDA, "SI Prime TS"},
    {0xDB, "Board Information"},
    {0xDC, "LDT linkage"},
    {0xDD, "Connected Transmission"},
    {0xDE, "Content Availability"},
    {0xDF, "<Tag Extention>"},
    {0xE0, "Service Group"},
    {0xF7, "Carousel Compatible Composite"},
    {0xF8, "Conditional Playback"},
    {0xF9, "Wired TS Parting System"},
    {0xFA, "Terrestrial Delivery System"},
    {0xFB, "Partial Reception"},
    {0xFC, "Emergency Information"},
    {0xFD, "Data Component"},
    {0xFE, "System Management"},
};

constexpr NameRange kDescriptorTagRanges[] = {
    {0x80, 0xBF, "<Carrier Definition>"},
};

constexpr NameTable kDescriptorTagNames = {kDescriptorTagEntries, kDescriptorTagRanges, kUnknown};

}  // namespace

int32_t TS_Section_TagToString(char* buffer, uint8_t table_id) {
    return rivulet::copyName(buffer, kTableIdNames, table_id);
}

int32_t TS_Section_TagToString_ISO(char* buffer, uint8_t table_id) {
    return rivulet::copyName(buffer, kTableIdIsoNames, table_id);
}

int32_t TS_Header_StreamTypeToString(char* buffer, uint8_t stream_type) {
    return rivulet::copyName(buffer, kStreamTypeNames, stream_type);
}

const char* rivulet::broadcastDescriptorName(uint8_t tag) { return lookupName(kDescriptorTagNames, tag); }
