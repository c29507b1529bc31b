// Rivulet toolkit: the split engine. A TS_Splitter takes a stream in chunks
// of any size (or reads a descriptor) and writes one file per program, each
// beginning every PAT of the input with a rebuilt PAT of its program, and
// holding its PMT, PCR, CA and stream packets unchanged, in input order.
// Splitters share nothing: one per thread is safe. A recorder:
//
//   TS_SplitOptions options{};
//   options.strOutputDir = "/rec";
//   TS_Splitter* s = TS_Splitter_Open("news", &options);   // /rec/news_<program>_0_0.ts
//   while ((n = read(fd, buffer, sizeof buffer)) > 0) TS_Splitter_Feed(s, buffer, n);
//   int32_t status = TS_Splitter_Close(s);                  // TS_StatusText(status)
//
// Also here: the runs that several splits of one command share, the file
// split with options, the single-program extraction and the split report.
#ifndef RIVULET_SPLIT_H
#define RIVULET_SPLIT_H

#include <atomic>

#include "rivulet/check.h"
#include "rivulet/common.h"
#include "rivulet/guide.h"
#include "rivulet/services.h"

// The splits of one command: the files they write and the inputs they read.
// A split that shares a run never overwrites a file another split of the run
// wrote, nor a file the run protects as an input (opaque; one per command).
struct TS_SplitRun;
TS_SplitRun* TS_SplitRun_Open(void);  // null when memory is short
// Protects the regular file at `path` (by device and inode, whatever path
// names it later) from being opened as an output by the run's splits; 0
// (also for what is no regular file, which no split could overwrite), or -1
// for a null argument.
int32_t TS_SplitRun_ProtectInput(TS_SplitRun* run, const char* path);
// 1 when `path` names (through whatever path) a file the run has written or
// protects, 0 when not, -1 for a null argument.
int32_t TS_SplitRun_Holds(const TS_SplitRun* run, const char* path);
void TS_SplitRun_Close(TS_SplitRun* run);

// What a namer is asked for: the name of the file that a program's
// (duplicate's, revision's) packets begin at input offset u64InputOffset.
struct TS_OutputNameRequest {
    uint16_t u16ProgramNumber;
    uint16_t u16Duplicate;
    uint64_t u64Revision;
    uint64_t u64InputOffset;  // of the packet that opens the file
    const char* strBase;      // the input's file name without its extension, or the base name given
    uint8_t u8HasEventId;     // cut at events: 1 when the file's event is known...
    uint16_t u16EventId;      // ...and this is its event_id
};

// Writes the file's name (without folder and extension, NUL-terminated, at
// most `size` bytes with the NUL) into `name`; 0, or -1 for the default name.
// The splitter makes it safe: '/', control characters and a leading '.'
// become '_', it is cut at a UTF-8 character boundary to fit 255 bytes with
// its extension, and a name a file of the run already has gets "-2", "-3",
// ... before the extension.
typedef int32_t (*TS_OutputNamer)(void* pUser, const TS_OutputNameRequest* request, char* name, uint32_t size);
constexpr uint32_t TS_FILE_NAME_MAX = 255;  // bytes of a file name, with its extension

typedef void (*TS_PacketObserver)(void* pUser, const uint8_t* packet, uint64_t u64Offset);

// Where the splitter writes and which programs get files.
struct TS_StreamShapes;  /* opaque: see TS_StreamShapes_Gather */
constexpr uint8_t TS_STABLE_SHAPE = 1;
constexpr uint8_t TS_STABLE_REMAP = 2;
constexpr uint32_t TS_MAX_WRITER_THREADS = 16;  // TS_SplitOptions.u32WriterThreads: more are taken as this many

struct TS_SplitOptions {
    const char* strOutputDir;     // null: beside the input; else this existing folder
    const uint16_t* lu16Programs; // the program numbers that get files (0 names none)...
    uint32_t u32ProgramCount;     // ...of which there are this many; 0: every program
    uint8_t u8ContinueRun;        // deprecated and ignored: share a TS_SplitRun (pRun) instead
    uint8_t u8ServiceInformation; // 1: each file also carries its own SDT, EIT, TDT/TOT and NIT (--si)
    TS_SplitRun* pRun;            // the command's run; null: the split is a run of its own
    const char* strBaseName;      // null: outputs are named from the input's file name; else from
                                  // this name, as it is (in the output folder or the input's)
    TS_OutputNamer pfNamer;       // null: <base>_<program>_<duplicate>_<revision>
    void* pNamerUser;
    // This split's own progress and stop, for a caller that runs several in
    // threads: pfProgress (null: the process-wide callback) is called after
    // each block read or fed, with the bytes so far and the input's size (0
    // when unknown); a non-zero *pStop (may be null), set by any thread,
    // stops this split at its next packet boundary as TS_RequestStop stops
    // every one.
    TS_ProgressCallback pfProgress = nullptr;
    void* pProgressUser = nullptr;
    const std::atomic<int32_t>* pStop = nullptr;
    // A packet observer: called, before the split acts on the packet, for
    // every packet whose PID has its bit set in *pObservedPIDs (TS_PID_COUNT
    // bits, which may change as the split goes), with the 188-byte packet and
    // its input offset. (A service watch follows the split without one, on
    // the splitter's tables: TS_Splitter_Watch.)
    TS_PacketObserver pfObserver = nullptr;
    void* pObserverUser = nullptr;
    const uint64_t* pObservedPIDs = nullptr;
    uint8_t u8CleanStart = 0;     // 1: each file begins where a decoder can (--clean-start, below); 0: as
                                  // the input comes
    uint8_t u8Events = 0;         // 1: a file per event of each program (-e, below)
    uint32_t u32MarginBeforeMs = 0;  // with u8Events: each event's file also begins this long before its cut...
    uint32_t u32MarginAfterMs = 0;   // ...and ends this long after the next (--margin, below)
    // Not null: the number of files the run has created, counted from 0 at
    // Open and complete when Close returns (0 for an input without a PAT,
    // whose Close returns 0 after the warning "Warning: no PAT in <path>;
    // no file written.").
    uint32_t* pFileCount = nullptr;
    // Where the run's messages go, each whole (see TS_LogSink in
    // rivulet/common.h); null: standard error, as the command line prints them.
    TS_LogSink pfLog = nullptr;
    void* pLogUser = nullptr;
    // The components each file leaves out (--drop): a bit, 1 << TS_COMPONENT_...
    // (rivulet/services.h), of each. 0: every stream is kept.
    uint32_t u32DropComponents = 0;
    // The audio streams each file keeps (--audio): null, every one; "first",
    // the first; or a comma list of ISO 639-2 codes ("eng,fra"), those in
    // these languages (their ISO 639 descriptor's, or the language of a DVB
    // supplementary audio descriptor), in PMT order, else the first, after "Warning: program N
    // has no audio stream in the languages asked for (it has deu,und); its
    // first is kept." Anything else: TS_ERR_BAD_OPTION.
    const char* strAudio = nullptr;  // TS_CheckAudioChoice tells whether the engine takes it
    // TS_STABLE_SHAPE: one stream shape per file (--stable, below);
    // TS_STABLE_REMAP: and fixed PIDs (--stable=remap).
    uint8_t u8Stable = 0;
    // With u8Stable: what TS_StreamShapes_Gather found in a first pass over
    // the same input with the same options; null (live input): a first pass
    // runs ahead of the split over the bytes fed, 10 s of the input's clock
    // (its first PCR PID's) or 64 MiB, whichever comes first, and the
    // split's files and messages come that much later (the rest when it closes).
    TS_StreamShapes* pStreamShapes = nullptr;
    // Writer threads (-j): 0 or 1, the caller's thread writes every file, as
    // it always has; N, up to N threads of the splitter's own (no more than
    // files are being written) write the files while the caller's thread
    // reads and routes the next block, each file by one thread at a time so
    // that its packets stay in input order. The files, the messages and the
    // statuses are the same; a write that fails is told, and fails its
    // program, when the block it was in is done. Close ends the threads.
    uint32_t u32WriterThreads = 0;
};

// With u8Stable, every PMT section of a file lists the same streams, in the
// same order, on the same PIDs, from its first packet to its last (its
// program_info, PCR_PID and version_number each section's own): the
// streams any PMT section of the file's stretch lists, in the order they
// were first listed, each with the descriptors of its first listing, less
// those the options leave out. With pStreamShapes from a first pass over a
// regular file, the file lists them from its first PMT; without, those
// listed within the read-ahead from its start, and a stream first listed
// later joins its shape there, after
// "Warning: program N gains stream 0xPID at byte B; its file's shape
// changes there." A stream whose entry no longer fits a section beside the
// others is left out of the file, after "Warning: program N lists more
// streams than one PMT section holds; those past it are left out."
//
// With TS_STABLE_REMAP, each file's streams also move to the PIDs the
// players of recorder stacks expect, in the order of the file's shape: its
// PMT to 0x01F0 (the PAT says so), video to 0x0100-0x010F, audio to
// 0x0110-0x012F, captions to 0x0130-0x0137, superimposed text to
// 0x0138-0x013F, teletext to 0x0140, data to 0x0150-0x016F, any other
// stream to 0x0170-0x018F; PCR_PID follows its stream. Only the PID of a
// moved packet changes (its continuity_counter runs on from its own
// packets). A stream past its kind's range keeps its own PID, after
// "Warning: program N has more streams of a kind than remap has PIDs for;
// 0xPID keeps its own."
//
// TS_StreamShapes_Gather reads the regular file `path` through a split of
// `options` (every program) that writes and says nothing, and returns the
// shapes for the split proper, or null: with *status (when not null) 0 for
// an input that cannot be read twice (standard input, a pipe, a device, a
// path that does not open; its split says why), else the split's status.
// Free them after the split.

// With u32DropComponents or strAudio, each file gets, for every PMT section
// of its program, that section without the entries of the streams left
// out (program_info and the kept entries as they were, section_length and
// CRC_32 worked out anew), on the same PID and at the packet that completed
// it, in packets of its own whose continuity_counter runs on from the
// first. The streams' PIDs left out never appear in the file, nor the ECM
// PIDs only their CA descriptors name. A stream left out that carries the
// PCR keeps each packet with a PCR, as an adaptation field alone (stuffed to
// 183 bytes, no payload, one continuity_counter throughout). A program all
// of whose streams are left out keeps its PAT, PMT and clock, after
// "Warning: program N keeps none of its streams; its file holds its PAT,
// PMT and clock."

// A splitter opened with TS_SplitOptions.u8CleanStart 1 begins every file
// where a decoder can: after its rebuilt PAT, the packets that carried its
// program's current PMT (and, with u8ServiceInformation, its rebuilt SDT and
// last EIT present/following sections), then the program's first video
// stream in PMT order from its first random access point, its PCR PID (when
// it carries no stream) from that point, and every other PID of the program
// from its first packet with payload_unit_start_indicator at or after it. A
// program without video starts at the first PES start of any of its streams.
// With no access point within 10 s of the program's PCR, the file starts at
// its PMT and takes every packet from there, after "Warning: no random
// access point in program N within 10 s; its file starts at its PMT." Only
// the sections to repeat, and the packets of the program since the video
// PES being judged began (64 at most), are held.
//
// A splitter opened with TS_SplitOptions.u8Events 1 gives each program a
// file per event: the file is cut each time the program's present event (the
// event_id of EIT present/following actual, section 0, on PID 0x12) changes;
// a section without a present event cuts nothing. The cut is at the
// program's first random access point at or after the packet that completed
// the announcing section (found as for u8CleanStart, with its 10 s limit),
// where the next file opens as a clean start opens one; each other PID
// switches at its first PES or section start from there, the older file
// taking its packets until then. Every packet of the program is in exactly
// one of its files. Default names gain the event_id,
// <base>_<program>_<duplicate>_<revision>_<event_id>, and _none for the
// stretch before the first known event. Every file, that stretch included,
// begins as a clean start begins one and is created there, named after the
// event in force at its first packet (a namer is told the event_id); a file
// that cannot be opened fails that file only.
//
// Margins: with u32MarginAfterMs, the older file of a cut takes every
// packet of the program for that long after the cut point (by the program's
// PCR), then ends at the next random access point as a file ends at a cut
// (each other PID at its next PES start). With u32MarginBeforeMs, the next
// file also begins that long before the cut point, at the random access
// point at or before it: the program's packets of that span are kept (at
// most 256 MiB for all programs together; beyond it, "Warning: margin of
// program N cut to S s." and the margin is shorter). The packets in the
// overlap are in both files. A margin that the next cut overtakes ends there.

// What u8Events would do with an input, before it is done: every present
// event the input announces, per program, in input order.
struct TS_AnnouncedEvent {
    uint16_t u16ProgramNumber;
    TS_ServiceEvent tEvent;    // its id, title, start, end and duration
    uint64_t u64AnnouncedAt;   // input offset of the packet that completed the announcing section
    uint8_t u8Timed;           // 1: the input had a PCR by then...
    uint64_t u64Time;          // ...and this is the time since its first (27 MHz), by the first PID with PCRs
    uint8_t u8Cut;             // 1: a file of the event begins at...
    uint64_t u64CutAt;         // ...the input offset of this packet (a random access point, or the
                               // PAT that opened the program's file)
};
using TS_EventListener = void (*)(void* user, const TS_AnnouncedEvent* event);

// Reads `path` (an input as TS_ProgramSplitFileWith takes it) and calls
// `listener` for each announcement once it is known whether and where a
// file begins for it: an event announced again before its cut, or called off
// (the program's file was of it already), has no cut. A program whose
// first file has no event (the stretch before its first, or a program
// without any) is told once too, at that file's opening, by a row whose
// tEvent.u8HasEvent is 0 (u64AnnouncedAt: where the file begins). Writes
// no file. 0, or the failure of the input as the split reports it.
int32_t TS_ListEvents(const char* path, TS_EventListener listener, void* user);
// The same, and in the same pass the input's guide (its EIT actual and SDT
// actual, rivulet/guide.h) into `*guide`, the caller's to free with
// TS_Guide_Free (also after a failure).
int32_t TS_ListEventsAndGuide(const char* path, TS_EventListener listener, void* user, TS_Guide** guide);

// TS_ProgramSplitFile with options: a selected program's file has the name
// and the bytes the full split gives it. -3 after "Error: Failed open DIR."
// when the output folder is not a folder. Outputs are regular files: a name
// taken by a link, a FIFO, a device, a folder or a file this run has written
// fails with "Error: Failed open %s.". A program asked for that no PAT lists:
// "Error: no program N in <path>.", -9, the other programs written. An input
// that is not a regular file (a pipe, a device) has its outputs named in the
// current folder, unless strOutputDir names one. When it returns,
// g_tPNSplitData, g_tData.tPAT, g_strString1 and g_strString2 show the run.
int32_t TS_ProgramSplitFileWith(const char* path, const TS_SplitOptions* options);

// The splitter as an engine that a caller feeds (a recorder, a network
// receiver): every splitter is a run of its own, with nothing shared, so
// that splitters in different threads do not touch each other.
//
// Open: outputs are named from `basePath` as the file split names them from
// its input path (beside it, or in options->strOutputDir), with the same
// options, which are copied: only its folder and its name without its last
// extension count, so "news.ts" and "news" both name "news_1_0_0.ts". When
// it names an existing regular file (the input a caller reads and feeds),
// that file is protected as FeedFrom protects its descriptor: no output,
// whatever a namer says, is opened over it. Null, after the file split's
// message, when the options cannot be met (a missing folder, a name too
// long) or memory is short. OpenWithStatus also says why in *status (when
// not null), as TS_ProgramSplitFileWith returns it: 0 with a splitter; -1
// for a null argument, TS_ERR_OPEN_OUTPUT (-3) when strOutputDir names no
// folder, TS_ERR_NAME_TOO_LONG (-6) when the output names would not fit
// TS_NAME_BUFFER_SIZE bytes, TS_ERR_NO_MEMORY (-12).
// Feed: takes any number of bytes; any chunking of the same bytes gives the
// same files, byte for byte, as the file split. The packets the bytes
// complete are in the files, as whole packets, when it returns. 0, or the
// first failure, a failed write of its own included (later calls return it
// again, and take nothing).
// Close: ends the input as the end of a file does, closes every file, frees
// the splitter and returns the status TS_ProgramSplitFileWith gives for the
// same bytes.
struct TS_Splitter;  /* opaque */
TS_Splitter* TS_Splitter_Open(const char* basePath, const TS_SplitOptions* options);
TS_Splitter* TS_Splitter_OpenWithStatus(const char* basePath, const TS_SplitOptions* options, int32_t* status);
int32_t TS_Splitter_Feed(TS_Splitter* splitter, const uint8_t* bytes, uint64_t size);
int32_t TS_Splitter_Close(TS_Splitter* splitter);
// Feeds what the open descriptor `fd` delivers up to its end (a file, a pipe,
// a device), read straight into the splitter's buffer; outputs never
// overwrite the file it reads. The input goes on: Close ends it. 0, or the
// first failure (TS_ERR_READ when a read failed, TS_ERR_INTERRUPTED after
// TS_RequestStop); Close then reports it with the file split's message.
int32_t TS_Splitter_FeedFrom(TS_Splitter* splitter, int fd);
// Hands out the packets the bytes fed so far decide, judged at once on the
// evidence there is rather than on bytes yet to come, and writes them: for a
// caller whose live input has paused. Statuses as Feed.
int32_t TS_Splitter_Settle(TS_Splitter* splitter);
// The input offset behind the last packet the splitter has handed out.
uint64_t TS_Splitter_InputEnd(const TS_Splitter* splitter);
// Closes the files and frees the splitter without ending the input or saying
// anything: for a caller whose input could not be had after all.
void TS_Splitter_Abandon(TS_Splitter* splitter);
// 0 when `text` is an audio choice TS_SplitOptions::strAudio takes ("first",
// or ISO 639-2 codes, three letters each, comma-separated), else
// TS_ERR_BAD_OPTION.
int32_t TS_CheckAudioChoice(const char* text);
// The stream shapes of a stable split (see TS_SplitOptions::u8Stable).
TS_StreamShapes* TS_StreamShapes_Gather(const char* path, const TS_SplitOptions* options, int32_t* status);
void TS_StreamShapes_Free(TS_StreamShapes* shapes);
// Gives program `program` files too, from the next PAT fed that lists it on:
// a caller that reads ahead (for service names) chooses a program before
// the splitter reaches the PAT that announces it, and so gets the file the
// program's number alone gives. A splitter opened for every program then
// writes only those added. -1 for program 0, which the program list of
// TS_SplitOptions may hold alone to choose none until some are added.
int32_t TS_Splitter_AddProgram(TS_Splitter* splitter, uint16_t program);
// Holds program `program` while the caller decides whether it is chosen
// (waiting for its name): from the next PAT that lists it (at once, when the
// splitter has taken one that does), its files open and take what a chosen
// program's would, but in memory, in order, nothing written.
// TS_Splitter_AddProgram releases it: the files are created, named as they
// would have been, and take what was held first, so that each is byte for
// byte the file the program's number alone gives. TS_Splitter_DropProgram
// lets it go: nothing of it is written, and it is not chosen. All held
// programs together keep at most TS_SPLIT_HELD_MAX_BYTES: a packet that
// takes them past it is told to the watch's caller (TS_Splitter_Watch) as a
// packet whose tables it read, to decide; still past it after that, every
// held program is let go, with a warning. While programs are held, each
// packet that moves the watch's clock (TS_ServiceWatch_Clock) is told to
// the watch's caller too, so that it can time the holds. Close and Abandon
// let go what is still held. A program chosen that has files already is not
// held. 0, or -1 (program 0, a null splitter, or memory short).
constexpr uint64_t TS_SPLIT_HELD_MAX_BYTES = uint64_t(64) << 20;
int32_t TS_Splitter_HoldProgram(TS_Splitter* splitter, uint16_t program);
int32_t TS_Splitter_DropProgram(TS_Splitter* splitter, uint16_t program);
// The bytes all held programs keep together.
uint64_t TS_Splitter_HeldBytes(const TS_Splitter* splitter);
// Has the service watch `watch` (rivulet/services.h), which has read the
// input ahead up to input offset `from` (TS_ServiceWatch_Feed), follow the
// split through the splitter's tables: from `from` on, the watch takes the sections the
// splitter reassembles, and reassembles none itself (do not also pass it
// packets). Then, for each packet of a table's PID from `from` on,
// pfWatched(pUser, packet, offset) (may be null) is called once the watch
// has read the packet's sections, and before the split acts on a PAT it
// completes: programs the caller adds there (by the names the watch knows)
// get files from that PAT on. Call before the first Feed, once; the watch
// must stay open until the splitter is closed or abandoned. 0, or -1
// (a null splitter or watch, a watch attached already, or no room left for
// the watch's subscriptions).
struct TS_ServiceWatch;
int32_t TS_Splitter_Watch(TS_Splitter* splitter, TS_ServiceWatch* watch, uint64_t from, TS_PacketObserver pfWatched,
                          void* pUser);

// The single-program extraction: the program whose PMT is on `pmtPID`,
// copied into `destPath` behind a PAT of that program alone. Statuses: the
// table of driver results in rivulet/common.h.
int32_t TS_ProgramSplitStream(const char* destPath, const char* srcPath, uint16_t pmtPID);
// The same for the program of `programNumber`, whose PMT PID each PAT names;
// -9 when no PAT announces it.
int32_t TS_ProgramSplitStreamByNumber(const char* destPath, const char* srcPath, uint16_t programNumber);

struct TS_ExtractOptions {
    uint8_t u8ByNumber;            // 1: the program of u16ProgramNumber; 0: that of u16PMTPID
    uint16_t u16ProgramNumber;
    uint16_t u16PMTPID;
    uint8_t u8ServiceInformation;  // 1: the file also carries its SDT, EIT, TDT/TOT and NIT (--si)
    TS_LogSink pfLog = nullptr;    // where its messages go (as TS_SplitOptions.pfLog); null: standard error
    void* pLogUser = nullptr;
    uint32_t u32DropComponents = 0;  // as TS_SplitOptions: the components left out...
    const char* strAudio = nullptr;  // ...and the audio streams kept, the PMT rebuilt to match
};
// Both of the above, and service information.
int32_t TS_ExtractProgram(const char* destPath, const char* srcPath, const TS_ExtractOptions* options);

constexpr uint32_t TS_SPLIT_REPORT_PATH_SIZE = 4096;

// One output file of a split, over the stretch of input it took packets from.
// A PID of an output file: its packets, continuity errors and scrambled
// packets, its kind (TS_KIND_..., TS_KIND_NONE) and codec.
struct TS_FilePID {
    uint16_t u16PID;
    uint8_t u8Kind;
    char strCodec[TS_CHECK_CODEC_SIZE];
    uint64_t u64Packets;
    uint64_t u64Drops;
    uint64_t u64Scrambled;
};

// A line of a file's drop log: its drops and scrambled packets so far, when
// they changed (at most one line per TS_DROP_LINE_SECONDS of its clock, and
// one at its end).
constexpr uint32_t TS_DROP_LINE_SECONDS = 5;
struct TS_DropLine {
    uint8_t u8HasUTC;                  // the input's TDT or TOT had come: its time then...
    int64_t s64UTC;                    // ...in seconds since 1970-01-01 UTC
    uint64_t u64Clock;                 // the file's clock then (27 MHz from its first PCR)
    uint64_t u64Drops;
    uint64_t u64Scrambled;
};

struct TS_SplitFileReport {
    char strPath[TS_SPLIT_REPORT_PATH_SIZE];
    uint16_t u16ProgramNumber;
    uint16_t u16Duplicate;
    uint64_t u64Revision;
    uint8_t u8ServiceNameLength;       // from the last SDT actual naming the program, as broadcast
    uint8_t lu8ServiceName[TS_SERVICE_NAME_SIZE];
    uint64_t u64Packets;               // in the file, the rebuilt PATs included
    uint64_t u64Bytes;
    uint64_t u64FirstOffset;           // input offset of the first input packet it holds (or of its opening)
    uint64_t u64LastOffset;            // input offset of the last byte of the input packets it holds
    uint64_t u64Duration;              // 27 MHz: PCR duration of the PCRs it holds of its first PID with PCRs
    uint64_t u64CCErrors;              // of the packets it took
    uint64_t u64TEI;
    uint64_t u64Scrambled;
    uint16_t u16PIDCount;
    uint16_t lu16PID[TS_CHECK_PROGRAM_MAX_PIDS];  // PID 0 and every PID it holds, ascending
    uint8_t u8HasEvent;                // cut at events (u8Events): 1 for a file of a known event...
    uint16_t u16EventId;               // ...this one
    uint8_t u8CutAtEvents;             // the split cut at events: a file without event is such a stretch
    // The verdict: the programme's own stretch (the whole file, but for a
    // file cut at events: from its cut to the next, by input offset) and
    // the margins around it (what the file took before and after).
    uint64_t u64ProgrammeFrom;
    uint64_t u64ProgrammeTo;           // UINT64_MAX: the file was never cut off
    TS_StretchCounts tProgramme;
    TS_StretchCounts tMargins;
    // The file's clock (u64Duration's) where the programme's stretch begins
    // and ends, at the first packet it took of each: the margins' lengths.
    uint8_t u8HasProgrammeStart;
    uint64_t u64ProgrammeStart;        // 27 MHz
    uint8_t u8HasProgrammeEnd;
    uint64_t u64ProgrammeEnd;
    // The drop log: each PID's figures (its first TS_CHECK_PROGRAM_MAX_PIDS
    // PIDs), and the lines, the list's own (TS_SplitFileList_Release frees them).
    uint16_t u16FilePIDCount;
    TS_FilePID ltFilePID[TS_CHECK_PROGRAM_MAX_PIDS];
    uint32_t u32DropLines;
    TS_DropLine* ltDropLine;
};

// Every output file of a split, in the order the files opened. The records
// are the list's own, grown as files open: TS_SplitFileList_Release frees
// them. A list of zeros (TS_SplitFileList list{}) is empty.
struct TS_SplitFileList {
    uint8_t u8ISDB;                    // the service names are ARIB text
    uint32_t u32Count;
    TS_SplitFileReport* ltFile;        // u32Count records
    uint32_t u32Capacity;              // records ltFile has room for
};

// Has the splitter fill `list` (owned by the caller, emptied here without
// freeing what it held: release it first) with its files, as they are
// opened, take packets and close; complete once TS_Splitter_Close has
// returned, also after TS_RequestStop. Call before the first Feed. -12 when
// the counters' memory cannot be had; a file whose record cannot be had
// fails the split with -12.
int32_t TS_Splitter_SetFileList(TS_Splitter* splitter, TS_SplitFileList* list);
// Has the splitter gather the input's programme guide (its EIT actual and
// SDT actual, rivulet/guide.h) into `guide` (owned by the caller, from
// TS_Guide_Create) through the run's table decoder, as it splits; complete
// and in order once TS_Splitter_Close has returned. Call before the first
// Feed. 0, or -12 when the decoder's subscriptions are full.
int32_t TS_Splitter_SetGuide(TS_Splitter* splitter, TS_Guide* guide);
// Frees the records of `list` and empties it.
void TS_SplitFileList_Release(TS_SplitFileList* list);

// The former report, of at most 256 files: the first ones, and a count of
// the rest. Complete once TS_Splitter_Close has returned.
constexpr uint32_t TS_SPLIT_REPORT_MAX_FILES = 256;  // of the former report: a TS_SplitFileList holds every file
struct [[deprecated("use TS_SplitFileList, which holds every file")]] TS_SplitReport {
    uint8_t u8ISDB;
    uint32_t u32Count;
    uint32_t u32Dropped;               // files beyond TS_SPLIT_REPORT_MAX_FILES, not reported
    TS_SplitFileReport ltFile[TS_SPLIT_REPORT_MAX_FILES];
};
[[deprecated("use TS_Splitter_SetFileList")]] int32_t TS_Splitter_SetReport(TS_Splitter* splitter,
                                                                            TS_SplitReport* report);

#endif  // RIVULET_SPLIT_H
