#include "app/ts_tool/check_view.h"

#include <algorithm>

#include "app/common/service_text.h"

namespace rivulet::tool {
namespace {

struct RoleName {
    uint8_t role;
    const char* name;  // in the JSON
    const char* text;  // in the table
};

constexpr RoleName kRoles[] = {
    {TS_ROLE_UNKNOWN, "unknown", "unknown"}, {TS_ROLE_PAT, "pat", "PAT"},
    {TS_ROLE_CAT, "cat", "CAT"},             {TS_ROLE_PMT, "pmt", "PMT"},
    {TS_ROLE_VIDEO, "video", "video"},       {TS_ROLE_AUDIO, "audio", "audio"},
    {TS_ROLE_SUBTITLES, "subtitles", "subtitles"}, {TS_ROLE_DATA, "data", "data"},
    {TS_ROLE_PCR, "pcr", "PCR"},             {TS_ROLE_ECM, "ecm", "ECM"},
    {TS_ROLE_EMM, "emm", "EMM"},             {TS_ROLE_SI, "si", "SI tables"},
    {TS_ROLE_NULL, "null", "null"},
};

const RoleName& roleEntry(uint8_t role) {
    for (const RoleName& entry : kRoles) {
        if (entry.role == role) return entry;
    }
    return kRoles[0];
}

bool ofProgram(uint8_t role) { return role >= TS_ROLE_PMT && role <= TS_ROLE_ECM; }

}  // namespace

const char* roleName(uint8_t role) { return roleEntry(role).name; }

std::string roleText(const TS_CheckPID& pid) {
    std::string text = roleEntry(pid.u8Role).text;
    if (pid.strCodec[0]) text += std::string(" ") + pid.strCodec;
    if (pid.strLanguage[0]) text += std::string(" ") + pid.strLanguage;
    if (ofProgram(pid.u8Role)) text += " of program " + std::to_string(pid.u16ProgramNumber);
    return text;
}

double secondsOf(uint64_t ticks) { return double(ticks) / 27e6; }

uint64_t bitrateOf(const TS_CheckResult& result, const TS_CheckPID& pid) {
    if (result.u64Duration == 0) return 0;
    return uint64_t(double(pid.u64Packets) * TS_PACKET_SIZE * 8 / secondsOf(result.u64Duration) + 0.5);
}

bool hasPCR(const TS_CheckResult& result) {
    for (const TS_CheckPID& pid : result.ltPID) {
        if (pid.u64PCRs > 0) return true;
    }
    return false;
}

bool hasPCR(const TS_CheckResult& result, const TS_CheckProgram& program) {
    return program.u16PCRPID < TS_PID_COUNT && result.ltPID[program.u16PCRPID].u64PCRs > 0;
}

std::string serviceNameOf(const TS_CheckResult& result, const TS_CheckProgram& program) {
    auto text = result.u8ISDB ? aribText : dvbText;
    return text(program.lu8ServiceName, program.u8ServiceNameLength);
}

bool hasErrors(const TS_CheckPID& pid) {
    return pid.u64CCErrors > 0 || pid.u64TEI > 0 || pid.u64PCRDiscontinuities > 0;
}

std::vector<uint16_t> pidsInOrder(const TS_CheckResult& result) {
    std::vector<uint16_t> pids;
    for (uint32_t pid = 0; pid < TS_PID_COUNT; ++pid) {
        if (result.ltPID[pid].u64Packets > 0) pids.push_back(uint16_t(pid));
    }
    std::stable_partition(pids.begin(), pids.end(), [&](uint16_t pid) { return hasErrors(result.ltPID[pid]); });
    return pids;
}

}  // namespace rivulet::tool
