// Output names: the input path without its extension is the stem of every
// output file, so that outputs land beside the input.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "rivulet/file_split.h"
#include "ts/output/output_names.h"

char g_strString1[TS_NAME_BUFFER_SIZE];
char g_strString2[TS_NAME_BUFFER_SIZE];

namespace {

bool isQuote(char c) { return c == '"' || c == '\''; }

}  // namespace

int32_t GetBaseFileName(char* dst, const char* src) {
    if (!dst || !src) return -1;
    size_t length = std::strlen(src);
    if (length >= TS_NAME_BUFFER_SIZE) {
        dst[0] = '\0';
        return -2;
    }
    if (length == 0) {
        dst[0] = '\0';
        return 0;
    }
    // A bare file name in matching quotes loses its opening quote; the closing
    // one goes with the extension, if there is one to cut. A path with a
    // folder keeps its quotes, so that outputs stay beside the input.
    size_t last = length - 1;
    if (isQuote(src[0]) && src[0] == src[last] && !std::strchr(src, '/')) {
        std::memcpy(dst, src + 1, length);
        if (last == 0) return 0;
        --last;
    } else {
        std::memcpy(dst, src, length + 1);
    }
    // Cut at the last full stop of the file name; a directory separator ends
    // the search, and a leading full stop (".ts") is not an extension.
    for (size_t i = last; i >= 1; --i) {
        if (dst[i] == '\\' || dst[i] == '/') break;
        if (dst[i] == '.') {
            // A name whose only full stop leads it (".ts") has no extension.
            if (dst[i - 1] != '/' && dst[i - 1] != '\\') dst[i] = '\0';
            break;
        }
    }
    return 0;
}

namespace rivulet {

void outputStem(char* stem, const char* path, const char* folder, const char* name) {
    GetBaseFileName(stem, path);
    const char* slash = std::strrchr(stem, '/');
    if (!folder && !name) return;
    if (!folder) {
        // The input's folder, with the name given.
        size_t folderLength = slash ? size_t(slash - stem) + 1 : 0;
        std::memcpy(stem + folderLength, name, std::strlen(name) + 1);
        return;
    }
    const char* fileName = name ? name : slash ? slash + 1 : stem;
    size_t folderLength = std::strlen(folder);
    while (folderLength > 1 && folder[folderLength - 1] == '/') --folderLength;  // "out/" names "out/x"
    std::memmove(stem + folderLength + 1, fileName, std::strlen(fileName) + 1);
    std::memcpy(stem, folder, folderLength);
    stem[folderLength] = '/';
}

bool outputNamesFit(const char* path, size_t longestSuffix, const LogSink& log) {
    if (std::strlen(path) + longestSuffix < TS_NAME_BUFFER_SIZE) return true;
    logMessage(log, TS_LOG_ERROR, "Error: File name too long.\n");
    return false;
}

void cutName(char* name, size_t maxBytes) {
    size_t length = std::strlen(name);
    if (length <= maxBytes) return;
    length = maxBytes;
    // A last character cut short goes whole.
    size_t lead = length;
    while (lead > 0 && (uint8_t(name[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead > 0 && uint8_t(name[lead - 1]) >= 0xC0) {
        uint8_t first = uint8_t(name[lead - 1]);
        size_t needed = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
        if (length - (lead - 1) < needed) length = lead - 1;
    }
    name[length] = '\0';
}

void safeFileName(char* name) {
    constexpr uint8_t kDelete = 0x7F;
    constexpr uint8_t kC1Lead = 0xC2;  // U+0080 to U+009F are C2 80 to C2 9F in UTF-8
    size_t out = 0;
    for (size_t in = 0; name[in] != '\0'; ++in) {
        uint8_t c = uint8_t(name[in]);
        if (c == kC1Lead && uint8_t(name[in + 1]) >= 0x80 && uint8_t(name[in + 1]) <= 0x9F) {
            ++in;  // both bytes become one '_'
            c = '_';
        }
        name[out++] = c < 0x20 || c == kDelete || c == '/' ? '_' : char(c);
    }
    name[out] = '\0';
    if (out == 0) std::strcpy(name, "_");
    if (name[0] == '.') name[0] = '_';
}

bool isLiveInput(const char* path) {
    // /dev/stdin, /dev/fd/N, /proc/self/fd/N: another name for a descriptor
    // (a file redirected, a pipe), whose folder is no place for files.
    for (const char* system : {"/dev/", "/proc/"}) {
        if (std::strncmp(path, system, std::strlen(system)) == 0) return true;
    }
    struct stat st;
    return ::stat(path, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

bool isFolder(const char* path) {
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace rivulet
