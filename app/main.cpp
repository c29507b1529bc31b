// rivulet: split multi-program MPEG-2 transport streams into one file per
// program, beside each input or in a folder of the user's choice. The
// command line is read once into a split plan (split_plan.h), which the
// functions here execute.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/common/guarded_file.h"
#include "app/common/process.h"
#include "app/exit_status.h"
#include "app/follow.h"
#include "app/output_template.h"
#include "app/progress/progress_terminal.h"
#include "app/report.h"
#include "app/split_help.h"
#include "app/split_plan.h"
#include "app/watched_split.h"
#include "rivulet/ts.h"

using rivulet::kExitFailed;
using rivulet::kExitOk;
using rivulet::SplitPlan;

namespace {

constexpr size_t kFollowChunkSize = 1 << 20;
// The input name that stands for standard input, and the base name of its files.
constexpr const char* kStandardInput = "-";
constexpr const char* kStandardInputBase = "stdin";

const char* orNull(const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; }

// Feeds a regular file that a recorder may still be writing, chunk by
// chunk, until it has not grown for the time given, it shrinks (or is cut
// and written again), or a signal stops the split; then closes the splitter.
int32_t feedFollowed(TS_Splitter* splitter, int fd, const char* input, const rivulet::ServiceChoice& choice) {
    rivulet::FollowedInput followed;
    bool standardInput = std::strcmp(input, kStandardInput) == 0;
    rivulet::followStart(&followed, fd, standardInput ? nullptr : input, true, choice.u32FollowSeconds);
    std::vector<uint8_t> chunk(kFollowChunkSize);
    for (;;) {
        size_t n = 0;
        rivulet::FollowRead read = rivulet::followRead(&followed, chunk.data(), chunk.size(), &n);
        if (read == rivulet::FollowRead::Data) {
            int32_t fed = TS_Splitter_Feed(splitter, chunk.data(), n);
            if (fed != 0) return TS_Splitter_Close(splitter);
            continue;
        }
        if (read == rivulet::FollowRead::Shrank) {
            std::fprintf(stderr, "Error: %s shrank while being followed.\n", TS_InputName(input));
        } else if (read == rivulet::FollowRead::Failed) {
            std::fprintf(stderr, "Error: Failed read %s.\n  %s\n", TS_InputName(input), std::strerror(errno));
        } else {
            return TS_Splitter_Close(splitter);  // the end, or a stop the close reports
        }
        TS_Splitter_Abandon(splitter);
        return TS_ERR_READ;
    }
}

// Feeds what `fd` delivers (a file, a pipe, a device; followed when asked)
// to the splitter and closes it; its status.
int32_t feedAndClose(TS_Splitter* splitter, int fd, const char* input, const rivulet::ServiceChoice& choice) {
    if (choice.follow && rivulet::isRegularFile(fd)) return feedFollowed(splitter, fd, input, choice);
    TS_Splitter_FeedFrom(splitter, fd);
    return TS_Splitter_Close(splitter);
}

// One input through a splitter of its own, read straight into its buffer:
// a file, standard input ("-"), a FIFO or a device. A choice of services or
// names from the service information goes through a watched split.
int32_t splitFile(const char* input, TS_SplitOptions options, const rivulet::ServiceChoice& choice,
                  rivulet::SplitReportFile& report) {
    bool standardInput = std::strcmp(input, kStandardInput) == 0;
    if (standardInput && !options.strBaseName) options.strBaseName = kStandardInputBase;
    // Opened first, so that options that cannot be met fail before any input is read.
    int32_t opened = 0;
    TS_Splitter* splitter = TS_Splitter_OpenWithStatus(input, &options, &opened);
    if (!splitter) return opened;
    int fd = standardInput ? STDIN_FILENO : ::open(input, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "Error: Failed open %s.\n  %s\n", input, std::strerror(errno));
        TS_Splitter_Abandon(splitter);
        return TS_ERR_OPEN_INPUT;
    }
    int32_t status = 0;
    if (rivulet::needsWatch(choice)) {
        TS_Splitter_Abandon(splitter);
        status = rivulet::splitWatched(input, fd, options, choice, report);
    } else if (!report.attach(splitter, input)) {
        TS_Splitter_Abandon(splitter);
        status = TS_ERR_NO_MEMORY;
    } else {
        status = feedAndClose(splitter, fd, input, choice);
    }
    report.collect();
    if (!standardInput) ::close(fd);
    return status;
}

// The inputs of one command share a run: no split overwrites a file an
// earlier one wrote, nor an input it has yet to read.
int splitAll(const SplitPlan& plan, const std::vector<const char*>& inputs) {
    TS_SplitRun* run = TS_SplitRun_Open();
    if (!run) {
        std::fputs("Error: Out of memory.\n", stderr);
        return kExitFailed;
    }
    for (const char* input : inputs) {
        // Standard input redirected from a file is protected as that file.
        TS_SplitRun_ProtectInput(run, std::strcmp(input, kStandardInput) == 0 ? "/dev/stdin" : input);
    }
    TS_SplitOptions options{orNull(plan.outputDir), plan.programs.data(), uint32_t(plan.programs.size()), 0,
                            uint8_t(plan.serviceInformation ? 1 : 0), run, orNull(plan.baseName), nullptr, nullptr};
    options.u8CleanStart = uint8_t(plan.cleanStart ? 1 : 0);
    options.u8Events = uint8_t(plan.events ? 1 : 0);
    options.u32MarginBeforeMs = plan.marginBeforeSeconds * 1000;
    options.u32MarginAfterMs = plan.marginAfterSeconds * 1000;
    const rivulet::ServiceChoice choice{plan.services, plan.types, plan.name ? &*plan.name : nullptr, plan.follow,
                                        plan.followSeconds};
    // A template of the split's own fields needs no service information.
    if (plan.name && !rivulet::needsWatch(choice)) {
        options.pfNamer = rivulet::nameFromTemplate;
        options.pNamerUser = const_cast<rivulet::OutputTemplate*>(&*plan.name);
    }
    int status = kExitOk;
    bool stopped = false;
    rivulet::SplitReportFile report(orNull(plan.reportPath));
    for (const char* input : inputs) {
        rivulet::progressStartOnTerminal();
        int32_t result = splitFile(input, options, choice, report);
        rivulet::progressStop();
        if (result == TS_ERR_INTERRUPTED) {
            stopped = true;
            status = rivulet::interruptedExitStatus();
            break;
        }
        if (result < 0) status = kExitFailed;
    }
    bool reported = report.write(!stopped, inputs, run);
    TS_SplitRun_Close(run);
    return reported ? status : kExitFailed;
}

// 0 for a folder, else why it is none (an errno value).
int folderError(const char* path) {
    struct stat st;
    if (::stat(path, &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

}  // namespace

int main(int argc, char** argv) {
    rivulet::prepareProcess();
    const rivulet::ParsedCommand command = rivulet::parseCommandLine(argc, argv);
    if (command.request != rivulet::CommandRequest::Split) return rivulet::printAnswer(command);
    const SplitPlan& plan = command.plan;
    std::vector<const char*> inputs;
    for (const std::string& input : plan.inputs) inputs.push_back(input.c_str());
    // A missing output folder fails every input alike: say so once, write nothing.
    if (int error = plan.outputDir ? folderError(plan.outputDir->c_str()) : 0) {
        std::fprintf(stderr, "Error: Failed open %s.\n  the output folder: %s\n", plan.outputDir->c_str(),
                     std::strerror(error));
        return kExitFailed;
    }
    // A report that would replace an input, or write through a link, is refused before anything is read.
    if (plan.reportPath && !rivulet::mayWriteAt(plan.reportPath->c_str(), inputs, nullptr)) {
        std::fprintf(stderr, "Error: Failed open %s.\n", plan.reportPath->c_str());
        return kExitFailed;
    }
    return splitAll(plan, inputs);
}
