// rivulet --report FILE.json: what each output file of the command's splits
// holds, gathered split by split and written when the command ends, also
// after SIGINT or SIGTERM; and rivulet --fail-on: the files whose programme
// has the damage named, told as each split ends.
#ifndef RIVULET_REPORT_H
#define RIVULET_REPORT_H

#include <memory>
#include <string>
#include <vector>

#include "rivulet/ts.h"

namespace rivulet {

class SplitReportFile {
public:
    // `path` null: no report; `failOn`: the TS_DAMAGE_ bits that fail a file.
    SplitReportFile(const char* path, uint8_t failOn);
    ~SplitReportFile();
    // Has the splitter of `input` fill the report; false after a message when
    // memory is short.
    bool attach(TS_Splitter* splitter, const char* input);
    // From now on, writes the sidecars of `kinds` (sidecars.h) of each
    // split's files when it is collected, never over one of `inputs` or a
    // file of `run`.
    void writeSidecars(uint32_t kinds, const std::vector<const char*>& inputs, TS_SplitRun* run);
    // Takes the files of the split attached last, once it is closed, names
    // on standard error each of them damaged as --fail-on says, and writes
    // their sidecars.
    void collect();
    // A sidecar could not be written (said).
    bool sidecarFailed() const { return sidecarFailed_; }
    // A file so named.
    bool damaged() const { return damaged_; }
    // Writes the report, `complete` unless a signal stopped the command (as
    // guarded_file.h writes, never over one of `inputs` or a file of `run`);
    // false after a message when it cannot be written.
    bool write(bool complete, const std::vector<const char*>& inputs, const TS_SplitRun* run) const;

private:
    struct Document;
    const char* path_;
    uint8_t failOn_;
    bool damaged_ = false;
    uint32_t sidecars_ = 0;
    std::vector<const char*> inputs_;
    TS_SplitRun* run_ = nullptr;
    TS_Guide* guide_ = nullptr;
    bool sidecarFailed_ = false;
    TS_SplitFileList split_{};
    std::string input_;
    std::unique_ptr<Document> document_;
};

}  // namespace rivulet

#endif
