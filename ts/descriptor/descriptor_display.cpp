// Descriptors that place a picture on the display: target background grid
// and video window.
#include <cstdio>

#include "rivulet/descriptors.h"
#include "ts/core/bounded_count.h"
#include "ts/core/byte_reader.h"
#include "ts/descriptor/descriptor_body.h"

using rivulet::ByteReader;

namespace {

// Target background grid and video window share one 32-bit layout: two
// 14-bit values followed by a 4-bit one.
struct GridFields {
    uint16_t horizontal;
    uint16_t vertical;
    uint8_t low_nibble;
};

GridFields readGrid(ByteReader& body) {
    uint32_t bits = body.u32();
    return GridFields{uint16_t(bits >> 18), uint16_t((bits >> 4) & 0x3FFF), uint8_t(bits & 0x0F)};
}

}  // namespace

int32_t TS_Descriptor_GetTargetBackgroundGrid(TS_Descriptor* descriptor, const uint8_t* data,
                                              uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_TARGET_BACKGROUND_GRID, [&](ByteReader& body) {
        GridFields grid = readGrid(body);
        TS_Descriptor_TargetBackgroundGrid& g = descriptor->target_background_grid;
        g.horizontal_size = grid.horizontal;
        g.vertical_size = grid.vertical;
        g.aspect_ratio_information = grid.low_nibble;
    });
}

int32_t TS_Descriptor_PrintTargetBackgroundGrid(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_TARGET_BACKGROUND_GRID, [&] {
        const TS_Descriptor_TargetBackgroundGrid& d = descriptor->target_background_grid;
        std::printf("[D Target background grid] HS:%d VS:%d ARI:%d\n", d.horizontal_size,
                    d.vertical_size, d.aspect_ratio_information);
    });
}

int32_t TS_Descriptor_GetVideoWindow(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_VIDEO_WINDOW, [&](ByteReader& body) {
        GridFields grid = readGrid(body);
        TS_Descriptor_VideoWindow& w = descriptor->video_window;
        w.horizontal_offset = grid.horizontal;
        w.vertical_offset = grid.vertical;
        w.window_priority = grid.low_nibble;
    });
}

int32_t TS_Descriptor_PrintVideoWindow(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_VIDEO_WINDOW, [&] {
        const TS_Descriptor_VideoWindow& d = descriptor->video_window;
        std::printf("[D Video window] HO:%d VO:%d WP:%d\n", d.horizontal_offset, d.vertical_offset,
                    d.window_priority);
    });
}
