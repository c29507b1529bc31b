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

namespace {

// Each PID the PMT section in `slot` names, with its role, codec and
// language: the PCR PID, the program's ECMs, then each stream and its ECMs.
template <typename Visit>
void forEachNamedPID(const TS_PreSection& slot, Visit visit) {
    constexpr uint32_t kStreamEntryHeader = 5;  // stream_type, PID, ES_info_length
    auto visitECMs = [&](ByteReader loop) {
        forEachCAPID(loop, [&](uint16_t pid) {
            if (pid != TS_PID_NULL) visit(pid, TS_ROLE_ECM, "", "");
        });
    };
    ByteReader loops = sectionLoops(sectionBytes(&slot));
    const uint16_t pcrPID = loops.u16() & 0x1FFF;
    if (pcrPID != TS_PID_NULL) visit(pcrPID, TS_ROLE_PCR, "", "");
    ByteReader programLoop = loops.take(loops.u16() & 0x0FFF);
    const uint32_t registration = registrationOf(programLoop.current(), programLoop.remaining());
    visitECMs(programLoop);
    while (loops.canRead(kStreamEntryHeader)) {
        uint8_t streamType = loops.u8();
        uint16_t pid = loops.u16() & 0x1FFF;
        ByteReader descriptors = loops.take(loops.u16() & 0x0FFF);
        StreamClass c = classifyStream(streamType, descriptors.current(), descriptors.remaining(), registration);
        visit(pid, kStreamRoles[uint8_t(c.kind)], c.codec, c.language);
        visitECMs(descriptors);
    }
}

}  // namespace

void rolesFromPMT(TS_CheckPID* pids, TS_CheckProgram& program, const TS_PreSection& slot) {
    const uint16_t number = program.u16ProgramNumber;
    program.u8HasPMT = 1;
    program.u16PIDCount = 0;
    addPID(program, program.u16PMTPID);
    program.u16PCRPID = TS_PID_NULL;
    forEachNamedPID(slot, [&](uint16_t pid, uint8_t role, const char* codec, const char* language) {
        if (role == TS_ROLE_PCR) program.u16PCRPID = pid;
        assign(pids[pid], role, number, codec, language);
        addPID(program, pid);
    });
}

uint8_t kindOfRole(uint8_t role) {
    constexpr uint8_t kKinds[] = {
        TS_KIND_NONE,  TS_KIND_PSI,   TS_KIND_NONE,      TS_KIND_PSI,  TS_KIND_VIDEO, TS_KIND_AUDIO, TS_KIND_SUBTITLES,
        TS_KIND_DATA,  TS_KIND_PCR,   TS_KIND_ECM,       TS_KIND_NONE, TS_KIND_NONE,  TS_KIND_NONE,
    };
    static_assert(sizeof kKinds == TS_ROLE_NULL + 1, "a kind for every role");
    return role < sizeof kKinds ? kKinds[role] : TS_KIND_NONE;
}

void kindsFromPMT(uint8_t* kinds, const char** codecs, uint16_t pmtPID, const TS_PreSection& slot) {
    kinds[pmtPID] = TS_KIND_PSI;
    codecs[pmtPID] = nullptr;
    forEachNamedPID(slot, [&](uint16_t pid, uint8_t role, const char* codec, const char*) {
        kinds[pid] = kindOfRole(role);
        codecs[pid] = codec[0] ? codec : nullptr;
    });
}

void rolesFromCAT(TS_CheckPID* pids, const TS_PreSection& slot) {
    forEachCAPID(sectionLoops(sectionBytes(&slot)), [&](uint16_t pid) {
        if (pids[pid].u8Role == TS_ROLE_UNKNOWN) pids[pid].u8Role = TS_ROLE_EMM;
    });
}

}  // namespace rivulet
