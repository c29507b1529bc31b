// rivulet --sidecar LIST: beside each output file, files of its base name
// that the next tools read: the programme as Kodi's and Jellyfin's .nfo, as
// a JSON record and as a text sheet, Kodi's .edl marking a file's margins,
// and the drop log (.err) recorders keep. The programme is the file's event with -e, else the event
// present when its program's first EIT present/following came.
#ifndef RIVULET_SIDECARS_H
#define RIVULET_SIDECARS_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "rivulet/ts.h"

namespace rivulet {

constexpr uint32_t kSidecarNFO = 1;
constexpr uint32_t kSidecarJSON = 2;
constexpr uint32_t kSidecarTXT = 4;
constexpr uint32_t kSidecarEDL = 8;
constexpr uint32_t kSidecarERR = 16;
// The sidecars that describe the programme, and so need the guide.
constexpr uint32_t kSidecarsOfTheGuide = kSidecarNFO | kSidecarJSON | kSidecarTXT;

// "nfo,json": a bit per word in *bits; false at the first word that names
// none, which goes to *unknown.
bool parseSidecars(std::string_view list, uint32_t* bits, std::string* unknown);
// "nfo json txt edl".
std::string sidecarWords();

// The sidecar texts of `file` (of `list`) and its programme `event` (null:
// none known). "" for a file that gets none of that kind: the .nfo and .txt
// of a file without programme, the .edl of a file without margins.
std::string nfoText(const TS_SplitFileList& list, const TS_SplitFileReport& file, const TS_EventInfo* event);
std::string sheetText(const TS_SplitFileList& list, const TS_SplitFileReport& file, const TS_EventInfo* event);
std::string recordText(const TS_SplitFileList& list, const TS_SplitFileReport& file, const TS_EventInfo* event);
std::string edlText(const TS_SplitFileReport& file);
// The drop log recorders keep: a line whenever the figures changed, at most
// every 5 s, then a line per PID.
std::string errText(const TS_SplitFileReport& file);

// `path` with its extension (after the last '.' of its last part) replaced by `extension`.
std::string besideOutput(const std::string& path, const char* extension);

// Writes the sidecars of `kinds` for every file of `list`, each as
// guarded_file.h writes (never an input, a file `run` wrote, a link),
// and has `run` protect it from the outputs to come; false after a message
// when one could not be written (the others are).
bool writeSidecars(uint32_t kinds, const TS_SplitFileList& list, const TS_Guide* guide,
                   const std::vector<const char*>& inputs, TS_SplitRun* run);

}  // namespace rivulet

#endif
