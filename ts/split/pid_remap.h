// Fixed PIDs for the files of a stable split with remap (--stable=remap),
// as the players of recorder stacks expect them: the PMT on 0x01F0; video
// from 0x0100, audio from 0x0110, captions from 0x0130, superimposed text
// from 0x0138, teletext on 0x0140, data from 0x0150, any other stream from
// 0x0170, each in the order the file's shape lists them. A stream past its
// kind's range keeps its own PID. Only PIDs change: every payload stays.
#ifndef RIVULET_PID_REMAP_H
#define RIVULET_PID_REMAP_H

#include <cstdint>

#include "rivulet/common.h"
#include "ts/split/component_choice.h"

namespace rivulet {

constexpr uint16_t kRemappedPMTPID = 0x01F0;
constexpr uint32_t kMaxRemapped = 128;

struct PIDRemap {
    uint64_t lu64Moved[TS_PID_COUNT / 64];  // PIDs that move
    uint16_t u16Count;
    uint16_t lu16From[kMaxRemapped];
    uint16_t lu16To[kMaxRemapped];
    uint16_t u16Unmoved;  // the first stream past its kind's range, or 0
};

// The PIDs of the kept streams of `listed` (the streams of the PMT section
// `section`, `size` bytes, less those `shape` leaves out).
void planRemap(const StreamLoop& listed, const uint8_t* section, uint32_t size, const FileShape& shape,
               PIDRemap* remap);

inline uint16_t remappedPID(const PIDRemap& remap, uint16_t pid) {
    for (uint32_t i = 0; i < remap.u16Count; ++i) {
        if (remap.lu16From[i] == pid) return remap.lu16To[i];
    }
    return pid;
}

// The rebuilt PMT section `section` (`size` bytes) with its PCR_PID and
// streams' PIDs moved, its CRC_32 worked out anew.
void remapPMT(const PIDRemap& remap, uint8_t* section, uint32_t size);
// The PAT section `section` (`size` bytes) with `program`'s PMT on
// kRemappedPMTPID, its CRC_32 worked out anew.
void remapPAT(uint16_t program, uint8_t* section, uint32_t size);

}  // namespace rivulet

#endif
