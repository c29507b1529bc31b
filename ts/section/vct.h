// The virtual channels of an ATSC Virtual Channel Table section (A/65:
// terrestrial 0xC8, cable 0xC9, on PID 0x1FFB): behind the long header,
// protocol_version and num_channels_in_section, then one 32-byte entry per
// channel (short_name in UTF-16BE, major and minor channel numbers, the
// program_number it maps to, its service_type) and its descriptors.
#ifndef RIVULET_VCT_H
#define RIVULET_VCT_H

#include <cstdint>

#include "rivulet/packets_sections.h"
#include "ts/section/section_reader.h"

namespace rivulet {

constexpr uint16_t kPIDPSIP = 0x1FFB;
constexpr uint8_t kTableTVCT = 0xC8;
constexpr uint8_t kTableCVCT = 0xC9;
constexpr uint32_t kShortNameSize = 14;  // 7 UTF-16 code units
constexpr uint16_t kAnalogChannel = 0xFFFF;  // the program_number of an analog channel

struct VirtualChannel {
    uint8_t lu8ShortName[kShortNameSize];
    uint8_t u8ShortNameLength;  // without the trailing NUL units
    uint16_t u16Major;
    uint16_t u16Minor;
    uint16_t u16ChannelTSID;    // the transport stream that carries the channel
    uint16_t u16ProgramNumber;  // 0: inactive; 0xFFFF: analog
    uint8_t u8ServiceType;
    uint16_t u16SourceId;       // the source whose events EIT-0 lists under it
};

// Calls fn(const VirtualChannel&) for each channel of the VCT section in `slot`.
template <class Fn>
void forEachVirtualChannel(const TS_PreSection& slot, Fn&& fn) {
    constexpr uint32_t kChannelEntrySize = 32;
    ByteReader loops = sectionLoops(sectionBytes(&slot));
    loops.u8();  // protocol_version
    uint8_t channels = loops.u8();
    for (uint8_t i = 0; i < channels && loops.canRead(kChannelEntrySize); ++i) {
        VirtualChannel channel{};
        loops.copy(channel.lu8ShortName, kShortNameSize, kShortNameSize);
        channel.u8ShortNameLength = kShortNameSize;
        while (channel.u8ShortNameLength >= 2 && channel.lu8ShortName[channel.u8ShortNameLength - 1] == 0 &&
               channel.lu8ShortName[channel.u8ShortNameLength - 2] == 0) {
            channel.u8ShortNameLength -= 2;
        }
        uint32_t numbers = loops.u24();  // reserved(4), major(10), minor(10)
        channel.u16Major = uint16_t((numbers >> 10) & 0x3FF);
        channel.u16Minor = uint16_t(numbers & 0x3FF);
        loops.skip(1 + 4);  // modulation_mode, carrier_frequency
        channel.u16ChannelTSID = loops.u16();
        channel.u16ProgramNumber = loops.u16();
        channel.u8ServiceType = loops.u16() & 0x3F;  // behind the ETM, access and hidden flags
        channel.u16SourceId = loops.u16();
        loops.skip(loops.u16() & 0x03FF);              // descriptors
        fn(static_cast<const VirtualChannel&>(channel));
    }
}

}  // namespace rivulet

#endif
