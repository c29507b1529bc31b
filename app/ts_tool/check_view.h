// How the check's figures read, shared by its text, its JSON and its chart:
// role names, seconds, bitrates, service names, and the order of the PIDs.
#ifndef RIVULET_CHECK_VIEW_H
#define RIVULET_CHECK_VIEW_H

#include <cstdint>
#include <string>
#include <vector>

#include "rivulet/ts.h"

namespace rivulet::tool {

const char* roleName(uint8_t role);  // "video", "pmt", "si", ...
// "video h264 eng of program 1", "PAT", "unknown".
std::string roleText(const TS_CheckPID& pid);
double secondsOf(uint64_t ticks);
// Bits per second of a PID's 188-byte packets over the stream's duration:
// the longest PCR duration of the input. 0 when the input has no PCR.
uint64_t bitrateOf(const TS_CheckResult& result, const TS_CheckPID& pid);
// Whether the input, or a program's PCR PID, carried any PCR: without one
// there is no duration, and no bitrate.
bool hasPCR(const TS_CheckResult& result);
bool hasPCR(const TS_CheckResult& result, const TS_CheckProgram& program);
std::string serviceNameOf(const TS_CheckResult& result, const TS_CheckProgram& program);
// The PIDs with packets: those with continuity, transport or PCR errors
// first, each group in PID order.
std::vector<uint16_t> pidsInOrder(const TS_CheckResult& result);
bool hasErrors(const TS_CheckPID& pid);

}  // namespace rivulet::tool

#endif
