// Printers of the descriptors that carry an identifier of an owner or system:
// registration, conditional access, copyright and private data indicator. The
// first three are followed by opaque bytes, printed as a byte list.
//
// The 32-bit identifiers are printed as signed values: 0x80000000 and above
// show as negative numbers.
#include <cstdio>

#include "rivulet/ts.h"
#include "ts/descriptor/descriptor_print.h"

using rivulet::checkDescriptorTag;
using rivulet::descriptorTailLength;
using rivulet::printByteList;

int32_t TS_Descriptor_PrintRegistration(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_REGISTRATION);
    if (status != 0) return status;
    const TS_Descriptor_Registration& d = descriptor->registration;
    std::printf("[D Registration] FI:%d\n  ", int32_t(d.format_identifier));
    printByteList(d.additional_identification_info, descriptorTailLength(descriptor));
    return 0;
}

int32_t TS_Descriptor_PrintConditionalAccess(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_CONDITIONAL_ACCESS);
    if (status != 0) return status;
    const TS_Descriptor_ConditionalAccess& d = descriptor->conditional_access;
    std::printf("[D Conditional access] L:%d CASID:%X R:%d CAPID:0x%04X\n  ",
                descriptor->descriptor_length, unsigned(d.CA_system_ID), d.reserved,
                unsigned(d.CA_PID));
    printByteList(d.private_data_byte, descriptorTailLength(descriptor));
    return 0;
}

int32_t TS_Descriptor_PrintCopyright(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_COPYRIGHT);
    if (status != 0) return status;
    const TS_Descriptor_Copyright& d = descriptor->copyright;
    std::printf("[D Copyright] CI:%d\n  ", int32_t(d.copyright_identifier));
    printByteList(d.additional_copyright_info, descriptorTailLength(descriptor));
    return 0;
}

int32_t TS_Descriptor_PrintPrivateDataIndicator(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_PRIVATE_DATA_INDICATOR);
    if (status != 0) return status;
    std::printf("[D Private data indicator] PD:%d\n",
                int32_t(descriptor->private_data_indicator.private_data_indicator));
    return 0;
}
