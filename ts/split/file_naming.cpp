#include "ts/split/file_naming.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "ts/input/input_file.h"
#include "ts/output/output_names.h"

namespace rivulet {
namespace {

// "_%d_%d_%llu_%u-N.m2ts" with its numbers at their longest.
constexpr size_t kLongestSuffix = sizeof("_65535_65535_18446744073709551615_65535-65536.m2ts") - 1;
constexpr uint32_t kMaxTwins = 65536;  // files of a run that one name is asked for

// Whether `path` is taken for this run: a file the run has written, and,
// for a name a namer chose, also an input (which a default name never is
// but by a user's choice, which the open then refuses).
bool takenForRun(const OutputPlace& place, const char* path, bool named) {
    struct stat st, input;
    if (::stat(path, &st) != 0) return false;
    bool isInput = place.inputFD >= 0 && ::fstat(place.inputFD, &input) == 0 && input.st_dev == st.st_dev &&
                   input.st_ino == st.st_ino;
    if (named && isInput) return true;
    return place.pWritten && (named ? writtenFilesHas(place.pWritten, st) : writtenFilesWrote(place.pWritten, st));
}

uint64_t nameHash(const char* text) {
    uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
    for (; *text; ++text) hash = (hash ^ uint8_t(*text)) * 0x100000001B3ull;
    return hash;
}

TwinMemo& twinMemo(FileNaming& naming, uint64_t name) {
    TwinMemo& memo = naming.ltTwin[name % kTwinSlots];
    if (memo.u64Name != name) memo = TwinMemo{name, 1};
    return memo;
}

// Forms naming.strPath from `name` and `suffix` behind the folder part of
// the output stem: "<name><suffix>.ext", or with "-2", "-3", ... before the
// extension when the name is taken for the run; with `cut`, the name is cut
// to fit TS_FILE_NAME_MAX bytes with them (and comes from a namer). False
// when it does not fit.
bool formUniquePath(FileNaming& naming, const OutputPlace& place, const char* extension, const char* name,
                    const char* suffix, bool cut) {
    char stem[TS_FILE_NAME_MAX + 1];
    char whole[TS_FILE_NAME_MAX * 2 + 1];
    std::snprintf(whole, sizeof whole, "%s%s", name, suffix);
    TwinMemo& memo = twinMemo(naming, nameHash(whole));
    for (uint32_t twin = memo.u32Next; twin <= kMaxTwins; ++twin) {
        char number[16] = "";
        if (twin > 1) std::snprintf(number, sizeof number, "-%u", twin);
        if (cut) {
            std::snprintf(stem, sizeof stem, "%s", name);
            cutName(stem, TS_FILE_NAME_MAX - std::strlen(number) - 1 - std::strlen(extension));
        }
        int length = std::snprintf(naming.strPath, sizeof naming.strPath, "%.*s%s%s%s.%s",
                                   int(naming.u32FolderLength), naming.strStem, cut ? stem : name, suffix, number,
                                   extension);
        if (length < 0 || size_t(length) >= sizeof naming.strPath) return false;
        memo.u32Next = twin;
        if (!takenForRun(place, naming.strPath, cut)) return true;
    }
    return true;  // the open refuses it
}

}  // namespace

bool namingFits(const char* basePath, const TS_SplitOptions& options, const LogSink& log) {
    size_t folderPart = options.strOutputDir ? std::strlen(options.strOutputDir) + 1 : 2;
    size_t namePart = options.strBaseName ? std::strlen(options.strBaseName) : 0;
    return outputNamesFit(basePath, kLongestSuffix + folderPart + namePart, log);
}

void namingSetUp(FileNaming& naming, const char* basePath, const TS_SplitOptions& options) {
    std::snprintf(naming.strInput, sizeof naming.strInput, "%s", TS_InputName(basePath));
    bool live = !options.strOutputDir && isLiveInput(basePath);
    // A base name is a file name, made safe like a namer's: never a path.
    char baseName[TS_FILE_NAME_MAX + 1];
    if (options.strBaseName) {
        std::snprintf(baseName, sizeof baseName, "%s", options.strBaseName);
        safeFileName(baseName);
    }
    outputStem(naming.strStem, basePath, live ? "." : options.strOutputDir, options.strBaseName ? baseName : nullptr);
    const char* slash = std::strrchr(naming.strStem, '/');
    naming.u32FolderLength = slash ? uint32_t(slash - naming.strStem) + 1 : 0;
    naming.pfNamer = options.pfNamer;
    naming.pNamerUser = options.pNamerUser;
    naming.strPath[0] = '\0';
    std::memset(naming.ltTwin, 0, sizeof naming.ltTwin);
}

bool nameFile(FileNaming& naming, const OutputPlace& place, const PacketFormat& format, const FileToOpen& file) {
    const TS_PNSplitEntry& entry = *file.pEntry;
    const char* extension = outputExtension(format);
    char name[TS_FILE_NAME_MAX + 1];
    const char* base = naming.strStem + naming.u32FolderLength;
    const bool known = file.nEvent >= 0;
    TS_OutputNameRequest request{entry.u16ProgramNumber, entry.u16Duplicate, entry.u64Revision, file.u64Offset, base,
                                 uint8_t(known), uint16_t(known ? file.nEvent : 0)};
    if (naming.pfNamer && naming.pfNamer(naming.pNamerUser, &request, name, sizeof name) == 0) {
        name[TS_FILE_NAME_MAX] = '\0';
        safeFileName(name);
        return formUniquePath(naming, place, extension, name, "", true);
    }
    char suffix[kLongestSuffix + 1];
    int length = std::snprintf(suffix, sizeof suffix, "_%d_%d_%llu", entry.u16ProgramNumber, entry.u16Duplicate,
                               static_cast<unsigned long long>(entry.u64Revision));
    // The stretch before the program's first event is "_none", so that it
    // cannot be taken for event 0.
    if (file.bCutAtEvents) {
        if (known) std::snprintf(suffix + length, sizeof suffix - size_t(length), "_%d", file.nEvent);
        if (!known) std::snprintf(suffix + length, sizeof suffix - size_t(length), "_none");
    }
    return formUniquePath(naming, place, extension, base, suffix, false);
}

}  // namespace rivulet
