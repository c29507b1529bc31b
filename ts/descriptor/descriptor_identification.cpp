// Descriptors that identify an owner, a system or a language: registration,
// copyright, private data indicator, conditional access and ISO 639 language.
// The first three are followed by opaque bytes, printed as a byte list; the
// 32-bit identifiers are printed as signed values, so 0x80000000 and above show
// as negative numbers.
#include <cstdio>

#include "rivulet/ts.h"
#include "ts/core/bounded_count.h"
#include "ts/core/byte_reader.h"
#include "ts/descriptor/descriptor_body.h"

using rivulet::ByteReader;
using rivulet::checkDescriptorTag;
using rivulet::DescriptorBody;
using rivulet::descriptorTailLength;
using rivulet::printByteList;

namespace {

constexpr uint32_t kLanguageEntrySize = 4;  // three code characters, audio_type

// Whole entries only: bytes left over behind the last one are ignored.
uint32_t languageEntryCount(const TS_Descriptor* descriptor) {
    return rivulet::boundedCount(descriptor->descriptor_length / kLanguageEntrySize, TS_ISO639_MAX_ENTRIES);
}

}  // namespace

int32_t TS_Descriptor_GetRegistration(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    DescriptorBody start = rivulet::openDescriptorBody(descriptor, data, size, TS_TAG_REGISTRATION);
    if (start.status != 0) return start.status;
    ByteReader& body = start.reader;
    TS_Descriptor_Registration& r = descriptor->registration;
    r.format_identifier = body.u32();
    rivulet::copyDescriptorTail(body, r.additional_identification_info);
    return 0;
}

int32_t TS_Descriptor_PrintRegistration(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_REGISTRATION);
    if (status != 0) return status;
    const TS_Descriptor_Registration& d = descriptor->registration;
    std::printf("[D Registration] FI:%d\n  ", int32_t(d.format_identifier));
    printByteList(d.additional_identification_info, descriptorTailLength(descriptor));
    return 0;
}

int32_t TS_Descriptor_GetCopyright(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    DescriptorBody start = rivulet::openDescriptorBody(descriptor, data, size, TS_TAG_COPYRIGHT);
    if (start.status != 0) return start.status;
    ByteReader& body = start.reader;
    TS_Descriptor_Copyright& c = descriptor->copyright;
    c.copyright_identifier = body.u32();
    rivulet::copyDescriptorTail(body, c.additional_copyright_info);
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

int32_t TS_Descriptor_GetPrivateDataIndicator(TS_Descriptor* descriptor, const uint8_t* data,
                                              uint32_t size) {
    DescriptorBody start =
        rivulet::openDescriptorBody(descriptor, data, size, TS_TAG_PRIVATE_DATA_INDICATOR);
    if (start.status != 0) return start.status;
    descriptor->private_data_indicator.private_data_indicator = start.reader.u32();
    return 0;
}

int32_t TS_Descriptor_PrintPrivateDataIndicator(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_PRIVATE_DATA_INDICATOR);
    if (status != 0) return status;
    std::printf("[D Private data indicator] PD:%d\n",
                int32_t(descriptor->private_data_indicator.private_data_indicator));
    return 0;
}

int32_t TS_Descriptor_GetConditionalAccess(TS_Descriptor* descriptor, const uint8_t* data,
                                           uint32_t size) {
    DescriptorBody start =
        rivulet::openDescriptorBody(descriptor, data, size, TS_TAG_CONDITIONAL_ACCESS);
    if (start.status != 0) return start.status;
    ByteReader& body = start.reader;
    TS_Descriptor_ConditionalAccess& ca = descriptor->conditional_access;
    ca.CA_system_ID = body.u16();
    uint16_t pid = body.u16();
    ca.reserved = uint8_t(pid >> 13);
    ca.CA_PID = pid & 0x1FFF;
    rivulet::copyDescriptorTail(body, ca.private_data_byte);
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

int32_t TS_Descriptor_GetISO639Language(TS_Descriptor* descriptor, const uint8_t* data,
                                        uint32_t size) {
    DescriptorBody start =
        rivulet::openDescriptorBody(descriptor, data, size, TS_TAG_ISO_639_LANGUAGE);
    if (start.status != 0) return start.status;
    ByteReader& body = start.reader;
    uint32_t count = languageEntryCount(descriptor);
    for (uint32_t i = 0; i < count; ++i) {
        TS_Descriptor_ISO639LanguageEntry& entry = descriptor->iso639_language.entries[i];
        entry.ISO_639_language_code = body.u24();
        entry.audio_type = body.u8();
    }
    return 0;
}

int32_t TS_Descriptor_PrintISO639Language(const TS_Descriptor* descriptor) {
    int32_t status = checkDescriptorTag(descriptor, TS_TAG_ISO_639_LANGUAGE);
    if (status != 0) return status;
    std::printf("[D ISO 639 language]\n");
    uint32_t count = languageEntryCount(descriptor);
    for (uint32_t i = 0; i < count; ++i) {
        const TS_Descriptor_ISO639LanguageEntry& entry = descriptor->iso639_language.entries[i];
        std::printf("  <%d> ILC:%d AT:%d\n", int32_t(i), int32_t(entry.ISO_639_language_code),
                    entry.audio_type);
    }
    return 0;
}
