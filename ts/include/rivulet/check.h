// Rivulet toolkit: the stream check. One pass over an input counts, for
// every PID, its packets, continuity errors, lost packets, duplicates,
// transport errors, scrambled packets and PCRs, names each PID's role from
// the tables, and sums the figures per program; a callback receives the
// points of a bitrate chart as they come.
//
//   auto* result = new TS_CheckResult;               // about 1 MB
//   int32_t status = TS_CheckStream(result, "rec.ts", nullptr, nullptr);
#ifndef RIVULET_CHECK_H
#define RIVULET_CHECK_H

#include "rivulet/common.h"

// What a PID carries, as the tables of the stream name it.
constexpr uint8_t TS_ROLE_UNKNOWN = 0;
constexpr uint8_t TS_ROLE_PAT = 1;
constexpr uint8_t TS_ROLE_CAT = 2;
constexpr uint8_t TS_ROLE_PMT = 3;        // of program u16ProgramNumber
constexpr uint8_t TS_ROLE_VIDEO = 4;      // the elementary stream roles: of program u16ProgramNumber
constexpr uint8_t TS_ROLE_AUDIO = 5;
constexpr uint8_t TS_ROLE_SUBTITLES = 6;
constexpr uint8_t TS_ROLE_DATA = 7;
constexpr uint8_t TS_ROLE_PCR = 8;        // a program's PCR PID that is none of its streams
constexpr uint8_t TS_ROLE_ECM = 9;        // a CA PID of a PMT
constexpr uint8_t TS_ROLE_EMM = 10;       // a CA PID of the CAT
constexpr uint8_t TS_ROLE_SI = 11;        // service information: NIT, SDT, EIT, TDT, PSIP, ...
constexpr uint8_t TS_ROLE_NULL = 12;

constexpr uint32_t TS_CHECK_CODEC_SIZE = 16;

// The counts of one PID's packets, as the check and the split report keep them.
struct TS_PIDCounts {
    uint64_t u64Packets;
    uint64_t u64CCErrors;
    uint64_t u64LostPackets;
    uint64_t u64Duplicates;
    uint64_t u64TEI;
    uint64_t u64Scrambled;
};

// The verdict on a program's packets (a file's, or a checked program's):
// its counts by kind of PID, and the places where the input restarted or
// lost time. PIDs of no kind (service information, EMMs, unknown) are
// left out.
constexpr uint8_t TS_KIND_VIDEO = 0;
constexpr uint8_t TS_KIND_AUDIO = 1;
constexpr uint8_t TS_KIND_SUBTITLES = 2;
constexpr uint8_t TS_KIND_DATA = 3;
constexpr uint8_t TS_KIND_PSI = 4;        // the PAT and the program's PMT
constexpr uint8_t TS_KIND_ECM = 5;
constexpr uint8_t TS_KIND_PCR = 6;        // a PCR PID that carries no stream
constexpr uint8_t TS_KIND_COUNT = 7;
constexpr uint8_t TS_KIND_NONE = 0xFF;

// An input gap: where the stream restarted or lost time.
constexpr uint8_t TS_GAP_CLOCK_JUMP = 0;            // the PCR stepped back, or on by over 1 s, unannounced
constexpr uint8_t TS_GAP_CONTINUITY_LOST = 1;       // every stream PID's next packet broke continuity
constexpr uint8_t TS_GAP_NEW_TRANSPORT_STREAM = 2;  // the PAT names another transport_stream_id
constexpr uint32_t TS_LISTED_GAPS = 16;
struct TS_InputGap {
    uint8_t u8Kind;                    // TS_GAP_...
    uint8_t u8HasPCR;                  // a PCR of the program came before it
    uint64_t u64Offset;                // input offset of the packet that showed it
    uint64_t u64PCR;                   // 27 MHz: the program's last PCR before it, as broadcast
};

// A stretch of a program's packets: each kind's counts, and its gaps (all
// counted, the first TS_LISTED_GAPS listed).
struct TS_StretchCounts {
    TS_PIDCounts ltKind[TS_KIND_COUNT];
    uint32_t u32Gaps;
    TS_InputGap ltGap[TS_LISTED_GAPS];
};

// What makes a stretch damaged, as bits.
constexpr uint8_t TS_DAMAGE_DROPS = 1;      // continuity errors
constexpr uint8_t TS_DAMAGE_SCRAMBLED = 2;
constexpr uint8_t TS_DAMAGE_TEI = 4;
constexpr uint8_t TS_DAMAGE_GAPS = 8;
// The TS_DAMAGE_ bits of `stretch`; 0: clean.
uint8_t TS_StretchDamage(const TS_StretchCounts* stretch);

// The figures of one PID: its counts (read as its own fields), role and
// PCRs. A PID that several programs share is named by the first program
// whose tables name it.
struct TS_CheckPID : TS_PIDCounts {
    uint8_t u8Role;                    // TS_ROLE_...
    uint16_t u16ProgramNumber;         // for the roles of a program
    char strCodec[TS_CHECK_CODEC_SIZE];  // of an elementary stream ("h264", "mp2", ...), else ""
    char strLanguage[4];
    uint64_t u64PCRs;
    uint64_t u64PCRDiscontinuities;
    uint64_t u64PCRDuration;           // 27 MHz: the steps between its PCRs that are no discontinuity
};

struct TS_CheckProgram {
    uint16_t u16ProgramNumber;
    uint16_t u16PMTPID;
    uint16_t u16PCRPID;                // 0x1FFF until a PMT names one, or when it names none
    uint8_t u8HasPMT;                  // a PMT of the program has been read
    uint16_t u16PIDCount;
    uint16_t lu16PID[TS_CHECK_PROGRAM_MAX_PIDS];  // PMT PID first, then as its last PMT names them
    uint8_t u8ServiceNameLength;       // as broadcast (DVB or ARIB text, see TS_CheckResult.u8ISDB)
    uint8_t lu8ServiceName[TS_SERVICE_NAME_SIZE];
    uint64_t u64Duration;              // 27 MHz: that of its PCR PID
    // Sums over its PIDs.
    uint64_t u64Packets;
    uint64_t u64CCErrors;
    uint64_t u64LostPackets;
    uint64_t u64TEI;
    uint64_t u64Scrambled;
    TS_StretchCounts tVerdict;         // by kind over its PIDs and the PAT's; its gaps
};

// The whole check of one input. About 1 MB: allocate it.
struct TS_CheckResult {
    uint32_t u32PacketSize;            // 188, 192 or 204
    uint64_t u64Packets;
    uint64_t u64SkippedBytes;          // passed over to regain sync
    uint64_t u64Bytes;                 // input bytes read
    uint64_t u64Duration;              // 27 MHz: the longest PCR duration of any PID
    uint8_t u8ISDB;
    uint16_t u16ProgramCount;          // every program a whole PAT announced, in order of first announcement
    TS_CheckProgram ltProgram[TS_PAT_MAX_PROGRAMS];
    TS_CheckPID ltPID[TS_PID_COUNT];
};

// A point of a program's line in a bitrate chart: the bytes of its PIDs
// since its last sample, at the end of each second of its PCR duration
// (u8Timed 1, u64Time in 27 MHz units), or for a program without PCR every
// TS_CHECK_UNTIMED_STEP input bytes (u8Timed 0, u64Time the input offset);
// or a continuity error on one of its PIDs, at the same kind of time. A
// program's first timed point comes at the first PCR the check follows for
// it and opens its timed line: its bytes came before that line's time. A
// continuity error on a PID of no program yet comes as of
// TS_CHECK_NO_PROGRAM, at its input offset; u16PID names the PID of each
// error, so that the errors can be put to the programs that name it last.
constexpr uint8_t TS_SAMPLE_BYTES = 0;
constexpr uint8_t TS_SAMPLE_CC_ERROR = 1;
constexpr uint64_t TS_CHECK_UNTIMED_STEP = 1 << 20;
constexpr uint16_t TS_CHECK_NO_PROGRAM = 0xFFFF;
struct TS_CheckSample {
    uint8_t u8Kind;
    uint16_t u16Program;               // index in TS_CheckResult.ltProgram, or TS_CHECK_NO_PROGRAM
    uint8_t u8Timed;
    uint64_t u64Time;
    uint64_t u64Bytes;
    uint64_t u64Lost;                  // TS_SAMPLE_CC_ERROR: the packets the error lost
    uint16_t u16PID;                   // TS_SAMPLE_CC_ERROR: the PID the error was found on
};
typedef void (*TS_CheckSampleCallback)(const TS_CheckSample* sample, void* pUser);

// Reads `path` to its end (a file, a pipe, a device) and fills `result`;
// `onSample` (may be null) receives the chart's points as they come. Statuses:
// the table of driver results in rivulet/common.h; after TS_ERR_INTERRUPTED
// without a message, `result` holds the figures of the bytes read (u64Bytes).
int32_t TS_CheckStream(TS_CheckResult* result, const char* path, TS_CheckSampleCallback onSample, void* pUser);

#endif  // RIVULET_CHECK_H
