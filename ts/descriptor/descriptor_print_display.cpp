// Printers of the descriptors that place a picture on the display: target
// background grid and video window share one 14/14/4-bit layout.
#include <cstdio>

#include "rivulet/ts.h"
#include "ts/descriptor/descriptor_print.h"

using rivulet::checkDescriptorTag;

int32_t TS_Descriptor_PrintTargetBackgroundGrid(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_TARGET_BACKGROUND_GRID);
    if (status != 0) return status;
    const TS_Descriptor_TargetBackgroundGrid& d = descriptor->target_background_grid;
    std::printf("[D Target background grid] HS:%d VS:%d ARI:%d\n", d.horizontal_size,
                d.vertical_size, d.aspect_ratio_information);
    return 0;
}

int32_t TS_Descriptor_PrintVideoWindow(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_VIDEO_WINDOW);
    if (status != 0) return status;
    const TS_Descriptor_VideoWindow& d = descriptor->video_window;
    std::printf("[D Video window] HO:%d VO:%d WP:%d\n", d.horizontal_offset, d.vertical_offset,
                d.window_priority);
    return 0;
}
