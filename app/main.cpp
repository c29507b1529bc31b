// rivulet: split multi-program MPEG-2 transport streams into one file per
// program, beside each input or in a folder of the user's choice. The
// command line is read once into a split plan (split_plan.h), which the
// functions here execute.

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
#include "app/input_source.h"
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

const char* orNull(const std::optional<std::string>& text) { return text ? text->c_str() : nullptr; }

uint32_t coreCount() {
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    return cores > 0 ? uint32_t(cores) : 1;
}

// One input through a splitter of its own: a file, standard input ("-"), a
// FIFO or a device, followed when asked. A choice of services or names from
// the service information goes through a watched split.
int32_t splitFile(const char* input, TS_SplitOptions options, const rivulet::ServiceChoice& choice,
                  rivulet::SplitReportFile& report) {
    if (std::strcmp(input, rivulet::kStandardInput) == 0 && !options.strBaseName) {
        options.strBaseName = rivulet::kStandardInputBase;
    }
    // A file still being written, or one that cannot be read twice, has no
    // first pass: its shapes grow as streams come.
    if (options.u8Stable && !choice.follow) options.pStreamShapes = TS_StreamShapes_Gather(input, &options, nullptr);
    const int32_t result = rivulet::needsWatch(choice)
                               ? rivulet::splitWatched(input, options, choice, report)
                               : rivulet::splitInput(input, options, choice.follow, choice.u32FollowSeconds, report, {});
    TS_StreamShapes_Free(options.pStreamShapes);
    return result;
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
        TS_SplitRun_ProtectInput(run, std::strcmp(input, rivulet::kStandardInput) == 0 ? "/dev/stdin" : input);
    }
    TS_SplitOptions options{orNull(plan.outputDir), plan.programs.data(), uint32_t(plan.programs.size()), 0,
                            uint8_t(plan.serviceInformation ? 1 : 0), run, orNull(plan.baseName), nullptr, nullptr};
    options.u8CleanStart = uint8_t(plan.cleanStart ? 1 : 0);
    options.u8Events = uint8_t(plan.events ? 1 : 0);
    options.u32MarginBeforeMs = plan.marginBeforeSeconds * 1000;
    options.u32MarginAfterMs = plan.marginAfterSeconds * 1000;
    options.u32DropComponents = plan.dropComponents;
    options.strAudio = orNull(plan.audio);
    options.u8Stable = plan.stable;
    options.u32WriterThreads = plan.writerThreads ? plan.writerThreads : coreCount();
    const rivulet::ServiceChoice choice{plan.services, plan.types, plan.name ? &*plan.name : nullptr, plan.follow,
                                        plan.followSeconds};
    // A template of the split's own fields needs no service information.
    if (plan.name && !rivulet::needsWatch(choice)) {
        options.pfNamer = rivulet::nameFromTemplate;
        options.pNamerUser = const_cast<rivulet::OutputTemplate*>(&*plan.name);
    }
    int status = kExitOk;
    bool stopped = false;
    rivulet::SplitReportFile report(orNull(plan.reportPath), plan.failOn);
    report.writeSidecars(plan.sidecars, inputs, run);
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
    if (!reported || report.sidecarFailed()) return kExitFailed;
    return status == kExitOk && report.damaged() ? rivulet::kExitStreamErrors : status;
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
