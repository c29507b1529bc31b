// Rivulet toolkit: services. What a stream's service information (the SDT
// or SIT, ATSC's VCT, the EIT present/following) says of each program: the
// program list with its services, and the service watch, which keeps what
// each table said and from which input offset on, so that a split can name a
// file after the service and event in force where the file begins.
//
//   TS_ServiceWatch* w = TS_ServiceWatch_Open();
//   TS_ServiceWatch_Feed(w, bytes, size);            // any chunking
//   TS_ServiceFacts facts;
//   if (TS_ServiceWatch_Facts(w, 3401, offset, &facts) == 0) { facts.lu8Name ... }
//   TS_ServiceWatch_Close(w);
#ifndef RIVULET_SERVICES_H
#define RIVULET_SERVICES_H

#include "rivulet/common.h"

struct TS_ProgramList {
    uint16_t u16Count;
    uint16_t lu16ProgramNumber[TS_PAT_MAX_PROGRAMS];
    uint16_t lu16PMTPID[TS_PAT_MAX_PROGRAMS];
};

int32_t TS_GetProgramList(TS_ProgramList* list, const char* path);


// A service as the SDT actual (table 0x42 on PID 0x11) describes it, from its
// service descriptor; names as broadcast, not decoded.
struct TS_ServiceInfo {
    uint16_t service_id;
    uint8_t service_type;
    uint8_t provider_name_length;
    uint8_t provider_name[TS_SERVICE_NAME_SIZE];
    uint8_t service_name_length;
    uint8_t service_name[TS_SERVICE_NAME_SIZE];
};

struct TS_ServiceList {
    uint16_t u16Count;
    TS_ServiceInfo ltService[TS_PAT_MAX_PROGRAMS];
    uint8_t u8ISDB;  // an ISDB stream (ARIB original_network_id): names are ARIB STD-B24 text, else DVB text
};

// TS_GetProgramList, and in the same pass the service of every service_id
// that an SDT actual section passing its CRC_32 lists, as the last such
// section has it.
int32_t TS_GetProgramServices(TS_ProgramList* list, TS_ServiceList* services, const char* path);
// The same for live input: on a pipe, a FIFO or a device, it returns as soon
// as a whole PAT, the PMT of every program it lists and an SDT actual naming
// them all have arrived, or after `u32TimeoutMs` with what has arrived by then
// (0: at the end of the input). A regular file is read to its end.
int32_t TS_GetProgramServicesLive(TS_ProgramList* list, TS_ServiceList* services, const char* path,
                                  uint32_t u32TimeoutMs);

constexpr uint32_t TS_WATCH_MAX_SERVICES = 256;  // programs and services one watch follows
constexpr uint32_t TS_WATCH_HISTORY = 8;         // descriptions and events kept per service

// How the names of a service are written: DVB text (EN 300 468 Annex A),
// ARIB STD-B24 text (ISDB), or UTF-16BE (an ATSC virtual channel's short_name).
constexpr uint8_t TS_TEXT_DVB = 0;
constexpr uint8_t TS_TEXT_ARIB = 1;
constexpr uint8_t TS_TEXT_UTF16 = 2;

// What a program is: from the service type an SDT or VCT gives, else from
// its PMT (video: tv; audio without video: radio; anything else: data).
constexpr uint8_t TS_SERVICE_UNKNOWN = 0;
constexpr uint8_t TS_SERVICE_TV = 1;
constexpr uint8_t TS_SERVICE_RADIO = 2;
constexpr uint8_t TS_SERVICE_DATA = 3;

// "video", "audio", "subtitles" or "data", for TS_StreamSummary::u8Kind.
const char* TS_StreamKindName(uint8_t u8Kind);

// The components of a program a file can leave out (TS_SplitOptions::
// u32DropComponents takes a bit, 1 << TS_COMPONENT_..., of each), and each
// stream's in TS_StreamSummary::u8Component: subtitles are DVB subtitling,
// Blu-ray's and ARIB captions (component tags 0x30-0x37); superimpose, ARIB
// superimposed text (0x38-0x3F); teletext, teletext and VBI data; data, data
// broadcasting (DSM-CC, data_broadcast descriptors, application signalling,
// ARIB 0x40-0x7F) and other named data; scte35, SCTE-35 cues; unknown,
// private streams nothing names.
constexpr uint8_t TS_COMPONENT_VIDEO = 0;
constexpr uint8_t TS_COMPONENT_AUDIO = 1;
constexpr uint8_t TS_COMPONENT_SUBTITLES = 2;
constexpr uint8_t TS_COMPONENT_SUPERIMPOSE = 3;
constexpr uint8_t TS_COMPONENT_TELETEXT = 4;
constexpr uint8_t TS_COMPONENT_DATA = 5;
constexpr uint8_t TS_COMPONENT_SCTE35 = 6;
constexpr uint8_t TS_COMPONENT_UNKNOWN = 7;
constexpr uint8_t TS_COMPONENT_COUNT = 8;

// "video", "audio", "subtitles", "superimpose", "teletext", "data",
// "scte35" or "unknown": as --drop spells each.
const char* TS_ComponentName(uint8_t u8Component);

struct TS_StreamSummary {
    uint16_t u16PID;
    uint8_t u8StreamType;
    uint8_t u8Kind;        // 0 video, 1 audio, 2 subtitles, 3 data
    uint8_t u8Component;   // TS_COMPONENT_...
    char strCodec[16];     // "h264", "mp2", "ac3", "dvb", ...
    char strLanguage[4];   // ISO 639-2, "" when none
};

// A service as an SDT actual, a SIT or a VCT describes it.
struct TS_ServiceDescription {
    uint8_t u8Text;            // TS_TEXT_...: how the name and provider are written
    uint8_t u8ServiceType;     // as the SDT or VCT gives it
    uint8_t u8Virtual;         // 1: an ATSC virtual channel u16Major.u16Minor
    uint8_t u8EITPresentFollowing;  // the SDT entry's flag: EIT present/following comes for it
    uint16_t u16Major;
    uint16_t u16Minor;
    uint8_t u8NameLength;
    uint8_t lu8Name[TS_SERVICE_NAME_SIZE];
    uint8_t u8ProviderLength;
    uint8_t lu8Provider[TS_SERVICE_NAME_SIZE];
};

// The event EIT present/following shows as present.
struct TS_ServiceEvent {
    uint8_t u8HasEvent;        // 1: EIT present/following names the event present
    uint8_t u8EventText;       // TS_TEXT_...: how the title is written
    uint8_t u8TitleLength;
    uint8_t lu8Title[TS_SERVICE_NAME_SIZE];
    char strStart[16];         // the event's start as broadcast: "YYYYMMDD-HHMM"
    uint16_t u16EventId;
    char strEnd[16];           // its start plus its duration, the same way
    char strDuration[8];       // "HHMM"; "" when undefined
};

// What the watch knows of a program at an input offset: the description and
// the event in force there (their fields read as the facts' own), its type
// and its streams.
struct TS_ServiceFacts : TS_ServiceDescription, TS_ServiceEvent {
    uint16_t u16ProgramNumber;
    uint8_t u8Described;       // 1: an SDT actual or a VCT describes the service
    uint8_t u8Type;            // TS_SERVICE_...: as stated, but data over video (tv) or audio (radio)
    uint8_t u8PMTSeen;         // 1: the streams below are those of the program's last PMT
    uint8_t u8StreamCount;
    TS_StreamSummary ltStream[TS_PMT_MAX_STREAMS];
    uint8_t u8StatedType;      // TS_SERVICE_... as its description states it (unknown without one)
};

// What a watch waits for before it calls the programs of the last PAT settled.
constexpr uint32_t TS_WATCH_NAMES = 1;  // each service's description, or a whole SDT or VCT without it
constexpr uint32_t TS_WATCH_EVENT = 2;  // each service's present event, unless its SDT entry says none comes
constexpr uint32_t TS_WATCH_TYPE = 4;   // each program's type: its description or its PMT
constexpr uint32_t TS_WATCH_STREAMS = 8;  // each program's PMT
// With the above: a program counts as described only by a description that
// lists it; a whole SDT or VCT that leaves it out does not settle it.
constexpr uint32_t TS_WATCH_LISTED = 16;

// A watch reads the PAT, the PMTs, the SDT actual (or SIT), the ATSC TVCT/CVCT and
// the EIT present/following actual of a stream fed to it in any chunking,
// and keeps what each said and at which input offset (opaque; one per input).
struct TS_ServiceWatch;
TS_ServiceWatch* TS_ServiceWatch_Open(void);  // null when memory is short
// 0, or TS_ERR_INTERRUPTED after TS_RequestStop.
int32_t TS_ServiceWatch_Feed(TS_ServiceWatch* watch, const uint8_t* bytes, uint64_t size);
// Ends the input: what is left is taken as the end of a file is.
void TS_ServiceWatch_End(TS_ServiceWatch* watch);
void TS_ServiceWatch_Close(TS_ServiceWatch* watch);
// The programs of the last whole PAT, in PAT order, the network entry left
// out, with their PMT PIDs (`pmtPIDs` may be null); returns how many there
// are (up to `capacity` copied).
uint32_t TS_ServiceWatch_Programs(const TS_ServiceWatch* watch, uint16_t* programs, uint16_t* pmtPIDs,
                                  uint32_t capacity);
// What the service information said of `program` at input offset `offset`:
// the description and event in force there, or, where none had come yet,
// the first that came after (UINT64_MAX: the last). -1 when the watch knows
// nothing of the program.
int32_t TS_ServiceWatch_Facts(const TS_ServiceWatch* watch, uint16_t program, uint64_t offset,
                              TS_ServiceFacts* facts);
// 1 when every program of the last whole PAT has what `needs` (TS_WATCH_...)
// asks for, or will not have it, or has been given up on; else 0.
int32_t TS_ServiceWatch_Settled(const TS_ServiceWatch* watch, uint32_t needs);
// The same for `program` alone, whether or not the last PAT lists it.
int32_t TS_ServiceWatch_ProgramSettled(const TS_ServiceWatch* watch, uint16_t program, uint32_t needs);
// Takes one 188-byte packet found by another walk (a splitter's, through its
// packet observer) at input offset `offset`, in input order: a watch that
// has read ahead with Feed follows the stream without a copy of it.
void TS_ServiceWatch_Packet(TS_ServiceWatch* watch, const uint8_t* packet, uint64_t offset);
// The PIDs the watch reads, a bit each (TS_PID_COUNT bits): those of its
// tables and the PMT PIDs of the last whole PAT; it changes as PATs come.
const uint64_t* TS_ServiceWatch_WantedPIDs(const TS_ServiceWatch* watch);
// Stops waiting for the programs the last whole PAT lists.
void TS_ServiceWatch_GiveUp(TS_ServiceWatch* watch);
// Stops waiting for `program`.
void TS_ServiceWatch_GiveUpProgram(TS_ServiceWatch* watch, uint16_t program);
// The stream's clock: the last PCR (27 MHz, base * 300 + extension) of the
// first PID that carried one. 0, or -1 when no PCR has come yet.
int32_t TS_ServiceWatch_Clock(const TS_ServiceWatch* watch, uint64_t* clock);
// The stream's time by that clock since its first PCR (27 MHz): the sum of
// its steps, a step backwards or of more than a second left out, so that a
// damaged or jumping PCR does not make time pass. 0, or -1 when no PCR has
// come yet.
int32_t TS_ServiceWatch_StreamTime(const TS_ServiceWatch* watch, uint64_t* elapsed);
// Reads `path` into the watch, as the live program list does: a pipe, a
// FIFO or a device until `needs` is settled or after `u32TimeoutMs`; a
// regular file to its end. Statuses as TS_GetProgramList.
int32_t TS_ServiceWatch_ReadInput(TS_ServiceWatch* watch, const char* path, uint32_t needs, uint32_t u32TimeoutMs);

#endif  // RIVULET_SERVICES_H
