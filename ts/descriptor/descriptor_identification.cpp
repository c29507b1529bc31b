// Descriptors that identify an owner, a system or a language: registration,
// copyright, private data indicator, conditional access and ISO 639 language.
// The first three are followed by opaque bytes, printed as a byte list; the
// 32-bit identifiers are printed as signed values, so 0x80000000 and above show
// as negative numbers.
#include <cstdio>

#include "rivulet/descriptors.h"
#include "ts/core/bounded_count.h"
#include "ts/core/byte_reader.h"
#include "ts/descriptor/descriptor_body.h"

using rivulet::ByteReader;
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
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_REGISTRATION, [&](ByteReader& body) {
        TS_Descriptor_Registration& r = descriptor->registration;
        r.format_identifier = body.u32();
        rivulet::copyDescriptorTail(body, r.additional_identification_info);
    });
}

int32_t TS_Descriptor_PrintRegistration(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_REGISTRATION, [&] {
        const TS_Descriptor_Registration& d = descriptor->registration;
        std::printf("[D Registration] FI:%d\n  ", int32_t(d.format_identifier));
        printByteList(d.additional_identification_info, descriptorTailLength(descriptor));
    });
}

int32_t TS_Descriptor_GetCopyright(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_COPYRIGHT, [&](ByteReader& body) {
        TS_Descriptor_Copyright& c = descriptor->copyright;
        c.copyright_identifier = body.u32();
        rivulet::copyDescriptorTail(body, c.additional_copyright_info);
    });
}

int32_t TS_Descriptor_PrintCopyright(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_COPYRIGHT, [&] {
        const TS_Descriptor_Copyright& d = descriptor->copyright;
        std::printf("[D Copyright] CI:%d\n  ", int32_t(d.copyright_identifier));
        printByteList(d.additional_copyright_info, descriptorTailLength(descriptor));
    });
}

int32_t TS_Descriptor_GetPrivateDataIndicator(TS_Descriptor* descriptor, const uint8_t* data,
                                              uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_PRIVATE_DATA_INDICATOR, [&](ByteReader& body) {
        descriptor->private_data_indicator.private_data_indicator = body.u32();
    });
}

int32_t TS_Descriptor_PrintPrivateDataIndicator(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_PRIVATE_DATA_INDICATOR, [&] {
        std::printf("[D Private data indicator] PD:%d\n",
                    int32_t(descriptor->private_data_indicator.private_data_indicator));
    });
}

int32_t TS_Descriptor_GetConditionalAccess(TS_Descriptor* descriptor, const uint8_t* data,
                                           uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_CONDITIONAL_ACCESS, [&](ByteReader& body) {
        TS_Descriptor_ConditionalAccess& ca = descriptor->conditional_access;
        ca.CA_system_ID = body.u16();
        uint16_t pid = body.u16();
        ca.reserved = uint8_t(pid >> 13);
        ca.CA_PID = pid & 0x1FFF;
        rivulet::copyDescriptorTail(body, ca.private_data_byte);
    });
}

int32_t TS_Descriptor_PrintConditionalAccess(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_CONDITIONAL_ACCESS, [&] {
        const TS_Descriptor_ConditionalAccess& d = descriptor->conditional_access;
        std::printf("[D Conditional access] L:%d CASID:%X R:%d CAPID:0x%04X\n  ",
                    descriptor->descriptor_length, unsigned(d.CA_system_ID), d.reserved,
                    unsigned(d.CA_PID));
        printByteList(d.private_data_byte, descriptorTailLength(descriptor));
    });
}

int32_t TS_Descriptor_GetISO639Language(TS_Descriptor* descriptor, const uint8_t* data,
                                        uint32_t size) {
    return rivulet::readDescriptor(descriptor, data, size, TS_TAG_ISO_639_LANGUAGE, [&](ByteReader& body) {
        uint32_t count = languageEntryCount(descriptor);
        for (uint32_t i = 0; i < count; ++i) {
            TS_Descriptor_ISO639LanguageEntry& entry = descriptor->iso639_language.entries[i];
            entry.ISO_639_language_code = body.u24();
            entry.audio_type = body.u8();
        }
    });
}

int32_t TS_Descriptor_PrintISO639Language(const TS_Descriptor* descriptor) {
    return rivulet::printDescriptor(descriptor, TS_TAG_ISO_639_LANGUAGE, [&] {
        std::printf("[D ISO 639 language]\n");
        uint32_t count = languageEntryCount(descriptor);
        for (uint32_t i = 0; i < count; ++i) {
            const TS_Descriptor_ISO639LanguageEntry& entry = descriptor->iso639_language.entries[i];
            std::printf("  <%d> ILC:%d AT:%d\n", int32_t(i), int32_t(entry.ISO_639_language_code),
                        entry.audio_type);
        }
    });
}
