// Rivulet toolkit: what every topic shares. The capacities of its records,
// the status codes its functions return, TS_StatusText to put a status into
// words, the stop request and the progress callback of the command-line tools.
//
// Statuses: every function returns a signed 32-bit status, 0 for success and
// -1 for a null required pointer; the negative codes below say the rest.
// Families reuse numbers: -2 to -6 mean one thing for section reassembly
// (continuity, lengths), another for the parsers and getters (no sync byte,
// wrong tag) and another for the drivers (input, output, write). The comment
// beside each code names its family; TS_StatusText gives the driver meaning,
// the one a caller of a driver or the engine sees, and
// TS_StatusTextOf(family, status) that of another family.
#ifndef RIVULET_COMMON_H
#define RIVULET_COMMON_H

#include <cstddef>
#include <cstdint>

constexpr uint32_t TS_PACKET_SIZE = 188;
constexpr uint32_t TS_MAX_PACKET_SIZE = 204;  // packets with 16 parity bytes; M2TS packets have 192
constexpr uint8_t TS_SYNC_BYTE = 0x47;
constexpr uint16_t TS_PID_PAT = 0x0000;
constexpr uint16_t TS_PID_CAT = 0x0001;
constexpr uint16_t TS_PID_NULL = 0x1FFF;
constexpr uint32_t TS_PID_COUNT = 8192;  // 13-bit PIDs

constexpr uint8_t TS_TABLE_ID_PAT = 0x00;
constexpr uint8_t TS_TABLE_ID_CAT = 0x01;
constexpr uint8_t TS_TABLE_ID_PMT = 0x02;

// The longest PAT, CAT, PMT or private section reassembly takes: sixteen
// packets' worth of 183 bytes.
constexpr uint32_t TS_PSI_SECTION_MAX = 2928;
// Packets a section of TS_PSI_SECTION_MAX bytes can touch: it may start in
// the last payload byte of one packet and end in the first of another.
constexpr uint32_t TS_SECTION_MAX_PACKETS = 18;
// Section bytes one reassembly slot holds: the longest service information
// section (SDT, EIT), 4096 bytes.
constexpr uint32_t TS_SECTION_BODY_SIZE = 4096;

constexpr uint32_t TS_PAT_MAX_PROGRAMS = 253;     // all the entries one PAT section can hold
constexpr uint32_t TS_MAX_PMT_RECORDS = 64;       // programs whose parsed PMTs a stream context keeps
constexpr uint32_t TS_PMT_MAX_STREAMS = 32;
constexpr uint32_t TS_MAX_DESCRIPTORS = 32;       // per loop: PMT program, PMT stream, CAT
constexpr uint32_t TS_ISO639_MAX_ENTRIES = 63;    // 255 / 4
constexpr uint32_t TS_DESCRIPTOR_TAIL_SIZE = 251; // 255 - 4 fixed bytes
constexpr uint32_t TS_PRIVATE_DATA_SIZE = 2928;   // TS_PSI_SECTION_MAX less the 3-byte header, and more

// The most bytes one TS_AddStream takes into a stream context (32 MiB). The
// drivers' own walks read 1 MiB at a time into buffers of their own.
constexpr uint32_t TS_APPEND_BLOCK_SIZE = 33554432;
[[deprecated("the drivers no longer read blocks of this size: use TS_APPEND_BLOCK_SIZE")]]
constexpr uint32_t TS_READ_BLOCK_SIZE = TS_APPEND_BLOCK_SIZE;
// A block and the unconsumed bytes before it: less than one packet.
constexpr uint32_t TS_STREAM_BUFFER_SIZE = TS_APPEND_BLOCK_SIZE + TS_MAX_PACKET_SIZE;
constexpr uint32_t TS_NAME_BUFFER_SIZE = 65536;

constexpr uint32_t TS_SPLIT_MAX_ENTRIES = 64;     // (program, duplicate) pairs g_tPNSplitData shows; a
                                                  // split has files for every program, however many
constexpr uint32_t TS_PMT_SPLIT_MAX_ENTRIES = 256;
constexpr uint32_t TS_SERVICE_NAME_SIZE = 255;       // bytes of a service or provider name, as broadcast
constexpr uint32_t TS_CHECK_PROGRAM_MAX_PIDS = 64;  // PMT, PCR, CA and stream PIDs of one program

// Section import results.
constexpr int32_t TS_SECTION_COMPLETE = 1;          // a whole section lies in the slot
constexpr int32_t TS_ERR_CONTINUITY_WRAP = -2;      // pending, last counter 15, this one not 0
constexpr int32_t TS_ERR_CONTINUITY = -3;           // pending, counter not last + 1
constexpr int32_t TS_ERR_SECTION_SHORT = -4;        // section_length below the variant's minimum
constexpr int32_t TS_ERR_SECTION_LONG = -5;         // section longer than the slot's body
constexpr int32_t TS_ERR_SECTION_TRUNCATED = -6;    // a new section began before the pending one ended

// Packet, descriptor and writer results.
constexpr int32_t TS_ERR_NO_SYNC = -2;              // first byte is not 0x47
constexpr int32_t TS_ERR_NO_ADAPTATION_FIELD = -2;
constexpr int32_t TS_ERR_WRONG_TAG = -2;            // descriptor handed to another tag's getter/printer
constexpr int32_t TS_ERR_PAT_TOO_LARGE = -2;        // more entries than one packet holds

// Section verification.
constexpr int32_t TS_ERR_NOT_COMPLETE = -2;
constexpr int32_t TS_ERR_TABLE_ID = -3;
constexpr int32_t TS_ERR_CRC = -4;

// Driver results. Codes are shared between families, so a code is read with
// the function that returned it:
//
//   function               0   -1    -2     -3                -4              -5     -6         -7          -8
//   TS_ProgramSplitFile    ok  null  input  output open       -               write  name long  -           read
//   TS_Print               ok  null  input  -                 -               -      -          -           read
//   TS_GetProgramList      ok  null  input  -                 -               -      -          -           read
//   TS_ProgramSplitStream  ok  null  input  output open       -               write  -          -           read
//   TS_CheckPMTSplit       ok  null  input  not single prog.  -               -      -          table full  read
//   TS_PMTSplitFile        ok  null  input  not single prog.  output open     write  name long  table full  read
//   TS_CheckStream         ok  null  input  -                 -               -      -          -           read
//
// Further, for every driver: -10 interrupted by TS_RequestStop, -11 no
// transport stream packet in the input, -12 no memory for the run's buffers;
// for TS_ProgramSplitStreamByNumber and for a split with a list of programs,
// -9, no PAT announced a program asked for.
constexpr int32_t TS_ERR_OPEN_INPUT = -2;
constexpr int32_t TS_ERR_OPEN_OUTPUT = -3;          // splitter, extraction
constexpr int32_t TS_ERR_NOT_SINGLE_PROGRAM = -3;   // PMT-change drivers
constexpr int32_t TS_ERR_PMT_SPLIT_OPEN_OUTPUT = -4;
constexpr int32_t TS_ERR_WRITE = -5;                // a write failed or came up short
constexpr int32_t TS_ERR_NAME_TOO_LONG = -6;
constexpr int32_t TS_ERR_TABLE_FULL = -7;           // 257th run or PMT in the PMT-change drivers
constexpr int32_t TS_ERR_READ = -8;                 // the input could not be read (a directory, an I/O error)
constexpr int32_t TS_ERR_NO_PROGRAM = -9;           // extraction by number: no PAT announced the program
constexpr int32_t TS_ERR_INTERRUPTED = -10;         // TS_RequestStop: outputs hold whole packets up to a point
constexpr int32_t TS_ERR_NO_PACKETS = -11;          // the input holds no transport stream packet
constexpr int32_t TS_ERR_NO_MEMORY = -12;           // a run's buffers could not be had
constexpr int32_t TS_ERR_BAD_OPTION = -13;          // an option's value cannot be read

// The families whose codes mean different things (see the groups above).
constexpr uint8_t TS_STATUS_DRIVER = 0;       // drivers, the split engine, the watch, the check
constexpr uint8_t TS_STATUS_PMT_CHANGE = 1;   // TS_CheckPMTSplit, TS_PMTSplitFile
constexpr uint8_t TS_STATUS_REASSEMBLY = 2;   // TS_*_ImportPreSection
constexpr uint8_t TS_STATUS_PARSER = 3;       // packets, descriptors, the PAT writer
constexpr uint8_t TS_STATUS_VERIFY = 4;       // TS_PreSection_Verify

// Words for a status as the driver family means it ("output file cannot be
// opened"), for messages and logs; "unknown status" for a code no function
// returns. Never null.
const char* TS_StatusText(int32_t status);
// The same for the family (TS_STATUS_...) of the function that returned it.
const char* TS_StatusTextOf(uint8_t family, int32_t status);

// How messages name an input: "standard input" for "-" and "/dev/stdin",
// else its path.
const char* TS_InputName(const char* path);

// Asks the driver at work to stop at the next packet boundary: it closes its
// outputs, each holding whole packets, and returns -10. Safe in a signal
// handler. The request stays: a driver started after it stops at once.
void TS_RequestStop(void);
// Withdraws the request, so that a caller may finish work a stop would lose
// (input it held back); a later TS_RequestStop stops again.
void TS_WithdrawStop(void);

// Messages: the texts a run prints on standard error ("Error: ...",
// "Warning: ...", "Interrupted: ..."), each whole, its newlines included,
// with its level. A run given a sink (pfLog in its options) hands it every
// message instead, from the thread that made the call that raised it; a text
// is cut to TS_LOG_TEXT_MAX bytes, a newline last. Drivers without options
// print on standard error.
constexpr int32_t TS_LOG_ERROR = 0;        // the run fails: "Error: ..."
constexpr int32_t TS_LOG_WARNING = 1;      // the run goes on without something: "Warning: ..."
constexpr int32_t TS_LOG_INTERRUPTED = 2;  // a stop ended the run: "Interrupted: ..."
constexpr uint32_t TS_LOG_TEXT_MAX = 8191;
typedef void (*TS_LogSink)(void* user, int32_t level, const char* text);

// Progress of the file walks: called after every block read with the bytes
// read so far and the input's size (0 when unknown). None by default.
typedef void (*TS_ProgressCallback)(uint64_t u64Done, uint64_t u64Total, void* pUser);
void TS_SetProgressCallback(TS_ProgressCallback callback, void* pUser);

#endif  // RIVULET_COMMON_H
