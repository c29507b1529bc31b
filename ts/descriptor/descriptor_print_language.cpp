// Printer of the ISO 639 language descriptor: one line per 4-byte entry, the
// entry count derived from descriptor_length as the parser derives it.
#include <cstdio>

#include "rivulet/ts.h"
#include "ts/descriptor/descriptor_print.h"

namespace {

constexpr uint32_t kLanguageEntryBytes = 4;

uint32_t languageEntryCount(const TS_Descriptor* descriptor) {
    uint32_t count = descriptor->descriptor_length / kLanguageEntryBytes;
    return count < TS_ISO639_MAX_ENTRIES ? count : TS_ISO639_MAX_ENTRIES;
}

}  // namespace

int32_t TS_Descriptor_PrintISO639Language(const TS_Descriptor* descriptor) {
    int32_t status = rivulet::checkDescriptorTag(descriptor, TS_TAG_ISO_639_LANGUAGE);
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
