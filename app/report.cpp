#include "app/report.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/common/guarded_file.h"
#include "app/common/service_text.h"
#include "app/common/verdict_json.h"
#include "app/common/xml_text.h"
#include "app/sidecars.h"

namespace rivulet {

struct SplitReportFile::Document {
    nlohmann::ordered_json inputs = nlohmann::ordered_json::array();
};

namespace {

nlohmann::ordered_json outputJSON(const TS_SplitFileList& list, const TS_SplitFileReport& f) {
    auto text = list.u8ISDB ? tool::aribText : tool::dvbText;
    nlohmann::ordered_json pids = nlohmann::ordered_json::array();
    for (uint16_t i = 0; i < f.u16PIDCount; ++i) pids.push_back(f.lu16PID[i]);
    nlohmann::ordered_json j = {{"path", f.strPath},
                                {"program_number", f.u16ProgramNumber},
                                {"service_name", text(f.lu8ServiceName, f.u8ServiceNameLength)},
                                {"duplicate", f.u16Duplicate},
                                {"revision", f.u64Revision}};
    // Cut at events: the file's event, null for the stretch before the first.
    if (f.u8CutAtEvents) j["event_id"] = f.u8HasEvent ? nlohmann::ordered_json(f.u16EventId) : nlohmann::ordered_json();
    j.update({{"packets", f.u64Packets},
            {"bytes", f.u64Bytes},
            {"pids", pids},
            {"first_offset", f.u64FirstOffset},
            {"last_offset", f.u64LastOffset},
            {"duration_s", double(f.u64Duration) / 27e6},
            {"cc_errors", f.u64CCErrors},
            {"tei", f.u64TEI},
            {"scrambled", f.u64Scrambled}});
    // The verdict on the programme's own stretch; a file cut at events also
    // tells its margins apart.
    nlohmann::ordered_json programme = stretchJSON(f.tProgramme);
    programme["from_offset"] = f.u64ProgrammeFrom;
    programme["to_offset"] = f.u64ProgrammeTo == UINT64_MAX ? nlohmann::ordered_json() : nlohmann::ordered_json(f.u64ProgrammeTo);
    j["programme"] = programme;
    if (f.u8CutAtEvents) j["margins"] = stretchJSON(f.tMargins);
    j.update(verdictJSON(f.tProgramme));
    return j;
}

}  // namespace

SplitReportFile::SplitReportFile(const char* path, uint8_t failOn)
    : path_(path), failOn_(failOn), document_(std::make_unique<Document>()) {}

SplitReportFile::~SplitReportFile() {
    TS_SplitFileList_Release(&split_);
    TS_Guide_Free(guide_);
}

void SplitReportFile::writeSidecars(uint32_t kinds, const std::vector<const char*>& inputs, TS_SplitRun* run) {
    sidecars_ = kinds;
    inputs_ = inputs;
    run_ = run;
}

bool SplitReportFile::attach(TS_Splitter* splitter, const char* input) {
    if (!path_ && !failOn_ && !sidecars_) return true;
    TS_SplitFileList_Release(&split_);
    TS_Guide_Free(guide_);
    guide_ = (sidecars_ & kSidecarsOfTheGuide) ? TS_Guide_Create() : nullptr;
    const bool guided = !(sidecars_ & kSidecarsOfTheGuide) || (guide_ && TS_Splitter_SetGuide(splitter, guide_) == 0);
    if (!guided || TS_Splitter_SetFileList(splitter, &split_) != 0) {
        std::fputs("Error: Out of memory.\n", stderr);
        return false;
    }
    input_ = input;
    return true;
}

void SplitReportFile::collect() {
    if (input_.empty()) return;
    nlohmann::ordered_json outputs = nlohmann::ordered_json::array();
    for (uint32_t i = 0; i < split_.u32Count; ++i) {
        const TS_SplitFileReport& file = split_.ltFile[i];
        if (path_) outputs.push_back(outputJSON(split_, file));
        const uint8_t damage = TS_StretchDamage(&file.tProgramme) & failOn_;
        if (!damage) continue;
        std::fprintf(stderr, "Damaged: %s (%s).\n", file.strPath, damageWords(damage).c_str());
        damaged_ = true;
    }
    if (sidecars_ && !rivulet::writeSidecars(sidecars_, split_, guide_, inputs_, run_)) sidecarFailed_ = true;
    // The list holds every file: the format's count of files left out stays, always 0.
    document_->inputs.push_back({{"input", input_}, {"outputs", outputs}, {"unreported_outputs", 0}});
    TS_SplitFileList_Release(&split_);
    input_.clear();
}

bool SplitReportFile::write(bool complete, const std::vector<const char*>& inputs, const TS_SplitRun* run) const {
    if (!path_) return true;
    std::string text = jsonText({{"complete", complete}, {"inputs", document_->inputs}}) + '\n';
    return writeGuarded(path_, text, inputs, run);
}

}  // namespace rivulet
