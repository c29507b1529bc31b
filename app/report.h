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
    // Takes the files of the split attached last, once it is closed, and
    // names on standard error each of them damaged as --fail-on says.
    void collect();
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
    TS_SplitFileList split_{};
    std::string input_;
    std::unique_ptr<Document> document_;
};

}  // namespace rivulet

#endif
