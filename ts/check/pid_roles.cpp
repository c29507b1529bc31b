#include "ts/check/pid_roles.h"

#include <cstdio>

#include "ts/section/section_reader.h"
#include "ts/programs/program_routes.h"
#include "ts/section/stream_kind.h"

namespace rivulet {
namespace {

// PIDs reserved for service information: DVB (EN 300 468), ARIB (STD-B10)
// and ATSC (A/65) tables.
constexpr uint16_t kSIPIDs[] = {
    0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015, 0x0016, 0x001C, 0x001D, 0x001E, 0x001F,  // DVB
    0x0023, 0x0024, 0x0025, 0x0026, 0x0027, 0x0028, 0x0029,                                  // ARIB
    0x1FFB,                                                                                  // ATSC PSIP
};

constexpr uint8_t kStreamRoles[] = {TS_ROLE_VIDEO, TS_ROLE_AUDIO, TS_ROLE_SUBTITLES, TS_ROLE_DATA};

bool isProgramRole(uint8_t role) { return role >= TS_ROLE_PMT && role <= TS_ROLE_ECM; }

// A PID takes a program's role when nothing has named it yet, or when the
// same program names it again.
void assign(TS_CheckPID& pid, uint8_t role, uint16_t programNumber, const char* codec = "", const char* language = "") {
    bool free = pid.u8Role == TS_ROLE_UNKNOWN;
    bool own = isProgramRole(pid.u8Role) && pid.u16ProgramNumber == programNumber;
    if (!free && !own) return;
    pid.u8Role = role;
    pid.u16ProgramNumber = programNumber;
    std::snprintf(pid.strCodec, sizeof pid.strCodec, "%s", codec);
    std::snprintf(pid.strLanguage, sizeof pid.strLanguage, "%s", language);
}

void addPID(TS_CheckProgram& program, uint16_t pid) {
    for (uint16_t i = 0; i < program.u16PIDCount; ++i) {
        if (program.lu16PID[i] == pid) return;
    }
    if (program.u16PIDCount < TS_CHECK_PROGRAM_MAX_PIDS) program.lu16PID[program.u16PIDCount++] = pid;
}

void assignECMs(TS_CheckPID* pids, TS_CheckProgram& program, ByteReader loop) {
    forEachCAPID(loop, [&](uint16_t pid) {
        if (pid == TS_PID_NULL) return;
        assign(pids[pid], TS_ROLE_ECM, program.u16ProgramNumber);
        addPID(program, pid);
    });
}

}  // namespace

void rolesReset(TS_CheckPID* pids) {
    for (uint32_t pid = 0; pid < TS_PID_COUNT; ++pid) pids[pid] = TS_CheckPID{};
    pids[TS_PID_PAT].u8Role = TS_ROLE_PAT;
    pids[TS_PID_CAT].u8Role = TS_ROLE_CAT;
    pids[TS_PID_NULL].u8Role = TS_ROLE_NULL;
    for (uint16_t pid : kSIPIDs) pids[pid].u8Role = TS_ROLE_SI;
}

void rolesSetNetwork(TS_CheckPID* pids, uint16_t networkPID) {
    if (pids[networkPID].u8Role == TS_ROLE_UNKNOWN) pids[networkPID].u8Role = TS_ROLE_SI;
}

void rolesSetPMT(TS_CheckPID* pids, uint16_t pmtPID, uint16_t programNumber) {
    assign(pids[pmtPID], TS_ROLE_PMT, programNumber);
}

void rolesFromPMT(TS_CheckPID* pids, TS_CheckProgram& program, const TS_PreSection& slot) {
    constexpr uint32_t kStreamEntryHeader = 5;  // stream_type, PID, ES_info_length
    const uint16_t number = program.u16ProgramNumber;
    program.u8HasPMT = 1;
    program.u16PIDCount = 0;
    addPID(program, program.u16PMTPID);
    ByteReader loops = sectionLoops(sectionBytes(&slot));
    program.u16PCRPID = loops.u16() & 0x1FFF;
    if (program.u16PCRPID != TS_PID_NULL) {
        assign(pids[program.u16PCRPID], TS_ROLE_PCR, number);
        addPID(program, program.u16PCRPID);
    }
    ByteReader programLoop = loops.take(loops.u16() & 0x0FFF);
    const uint32_t registration = registrationOf(programLoop.current(), programLoop.remaining());
    assignECMs(pids, program, programLoop);
    while (loops.canRead(kStreamEntryHeader)) {
        uint8_t streamType = loops.u8();
        uint16_t pid = loops.u16() & 0x1FFF;
        ByteReader descriptors = loops.take(loops.u16() & 0x0FFF);
        StreamClass c = classifyStream(streamType, descriptors.current(), descriptors.remaining(), registration);
        assign(pids[pid], kStreamRoles[uint8_t(c.kind)], number, c.codec, c.language);
        addPID(program, pid);
        assignECMs(pids, program, descriptors);
    }
}

void rolesFromCAT(TS_CheckPID* pids, const TS_PreSection& slot) {
    forEachCAPID(sectionLoops(sectionBytes(&slot)), [&](uint16_t pid) {
        if (pids[pid].u8Role == TS_ROLE_UNKNOWN) pids[pid].u8Role = TS_ROLE_EMM;
    });
}

}  // namespace rivulet
