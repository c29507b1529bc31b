// Printers of the descriptors about clocks, buffers and rates: system clock,
// multiplex buffer utilization, maximum bitrate, smoothing buffer, STD and IBP.
// Rates and sizes are printed as coded, not converted to bytes per second.
#include <cstdio>

#include "rivulet/ts.h"
#include "ts/descriptor/descriptor_print.h"

using rivulet::checkDescriptorTag;

int32_t TS_Descriptor_PrintSystemClock(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_SYSTEM_CLOCK);
    if (status != 0) return status;
    const TS_Descriptor_SystemClock& d = descriptor->system_clock;
    std::printf("[D System clock] ECRI:%d R1:%d CAI:%d CAE:%d R2:%d\n",
                d.external_clock_reference_indicator, d.reserved1, d.clock_accuracy_integer,
                d.clock_accuracy_exponent, d.reserved2);
    return 0;
}

int32_t TS_Descriptor_PrintMultiplexBufferUtilization(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_MULTIPLEX_BUFFER_UTILIZATION);
    if (status != 0) return status;
    const TS_Descriptor_MultiplexBufferUtilization& d = descriptor->multiplex_buffer_utilization;
    std::printf("[D Multiplex buffer utilization] BVF:%d LOLB:%d R:%d LOUB:%d\n",
                d.bound_valid_flag, d.LTW_offset_lower_bound, d.reserved, d.LTW_offset_upper_bound);
    return 0;
}

int32_t TS_Descriptor_PrintMaximumBitrate(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_MAXIMUM_BITRATE);
    if (status != 0) return status;
    const TS_Descriptor_MaximumBitrate& d = descriptor->maximum_bitrate;
    std::printf("[D Maximum bitrate] R:%d MB:%d\n", d.reserved, int32_t(d.maximum_bitrate));
    return 0;
}

int32_t TS_Descriptor_PrintSmoothingBuffer(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_SMOOTHING_BUFFER);
    if (status != 0) return status;
    const TS_Descriptor_SmoothingBuffer& d = descriptor->smoothing_buffer;
    std::printf("[D Smoothing buffer] R1:%d SLR:%d R2:%d SS:%d\n", d.reserved1,
                int32_t(d.sb_leak_rate), d.reserved2, int32_t(d.sb_size));
    return 0;
}

int32_t TS_Descriptor_PrintSTD(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_STD);
    if (status != 0) return status;
    const TS_Descriptor_STD& d = descriptor->std;
    std::printf("[D STD] R:%d LVF:%d\n", d.reserved, d.leak_valid_flag);
    return 0;
}

int32_t TS_Descriptor_PrintIBP(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_IBP);
    if (status != 0) return status;
    const TS_Descriptor_IBP& d = descriptor->ibp;
    std::printf("[D IBP] CGF:%d IGF:%d MGL:%d\n", d.closed_gop_flag, d.identical_gop_flag,
                d.max_gop_length);
    return 0;
}
