// The report tap: the stage of a program's output chain (output_stage.h)
// that tells the split report (split_report.h) of every packet that
// arrives and of every file's opening, units, moves and closing, each after
// the stage behind it has done its part, so that the report holds what the
// files hold.
#ifndef RIVULET_REPORT_TAP_H
#define RIVULET_REPORT_TAP_H

#include "ts/split/output_stage.h"
#include "ts/split/split_report.h"
#include "ts/stream/packet_format.h"

namespace rivulet {

struct ReportTap {
    OutputStage tStage;  // first: the chain knows the tap by it
    SplitReportState* pState;
    const PacketFormat* pFormat;  // of the input, known once its first packets are
};
// A tap of `state` (owned by the caller) in front of `next`.
void reportTapInit(ReportTap* tap, SplitReportState* state, const PacketFormat* format, OutputStage* next);

}  // namespace rivulet

#endif
