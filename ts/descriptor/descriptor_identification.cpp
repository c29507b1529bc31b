// Descriptors that identify an owner, a system or a language: registration,
// copyright, private data indicator, conditional access and ISO 639 language.
#include "rivulet/ts.h"
#include "ts/descriptor/descriptor_body.h"
#include "ts/packet/byte_reader.h"

using rivulet::ByteReader;
using rivulet::DescriptorBody;

namespace {

constexpr uint32_t kLanguageEntrySize = 4;  // three code characters, audio_type

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

int32_t TS_Descriptor_GetCopyright(TS_Descriptor* descriptor, const uint8_t* data, uint32_t size) {
    DescriptorBody start = rivulet::openDescriptorBody(descriptor, data, size, TS_TAG_COPYRIGHT);
    if (start.status != 0) return start.status;
    ByteReader& body = start.reader;
    TS_Descriptor_Copyright& c = descriptor->copyright;
    c.copyright_identifier = body.u32();
    rivulet::copyDescriptorTail(body, c.additional_copyright_info);
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

int32_t TS_Descriptor_GetISO639Language(TS_Descriptor* descriptor, const uint8_t* data,
                                        uint32_t size) {
    DescriptorBody start =
        rivulet::openDescriptorBody(descriptor, data, size, TS_TAG_ISO_639_LANGUAGE);
    if (start.status != 0) return start.status;
    ByteReader& body = start.reader;
    // Bytes left over behind the last whole entry are ignored.
    uint32_t count = descriptor->descriptor_length / kLanguageEntrySize;
    if (count > TS_ISO639_MAX_ENTRIES) count = TS_ISO639_MAX_ENTRIES;
    for (uint32_t i = 0; i < count; ++i) {
        TS_Descriptor_ISO639LanguageEntry& entry = descriptor->iso639_language.entries[i];
        entry.ISO_639_language_code = body.u24();
        entry.audio_type = body.u8();
    }
    return 0;
}
