// Clean starts (--clean-start): a program's file begins where a decoder can
// begin. Its rebuilt PAT, the packets that carried the program's current PMT
// and, with service information, its rebuilt SDT and last EIT
// present/following sections open it, all held back until the start point;
// then come the video stream (the program's first in PMT order) from its
// first random access point, the PCR PID (when it carries no stream) from
// that point, and every other PID of the program from its first packet that
// begins a PES or a section at or after it. A program without video starts
// at the first such packet of any of its streams. With no random access
// point within 10 s of program clock from the file's first PCR, the file
// starts at its PMT and takes the program's packets from there, after a
// warning.
//
// Until the start, packets of the program are dropped, but those of the video
// PES being judged, which are held (a bounded number) until the detector
// decides. A file is created only at its start, so a program that never
// reaches one gets none. The clock is the program's PCR, or, without one,
// the decoding times of its first stream (start_point.h).
//
// The same start points cut a program's file at an event change: the file
// goes on taking the packets of the PIDs it has begun until the start point,
// where the next file opens as above; each PID then switches to the next
// file at its own start (a PES or section start at or after the point), and
// the older file takes its packets until then. The older file is closed
// once every PID has switched. No packet is dropped or written twice. A cut
// that comes before every PID has left the file before the older one keeps
// that file open (the prior one) until they have. With a margin after the
// cut, the older file takes every packet of the PIDs it has begun for that
// long after the start point, then ends at the next start point as above,
// so that the packets in between are in both files. With a margin before,
// the next file opens with the PMT in force at the start of its replay.
//
// Two files do the work: clean_start.cpp, the gate (a file's start: waiting,
// the opening, the joining of its PIDs), and event_cut.cpp, the cutter (the
// older and prior files of a cut, the margins); clean_entry.h holds what
// they share.
#ifndef RIVULET_CLEAN_START_H
#define RIVULET_CLEAN_START_H

#include <cstdint>

#include "rivulet/packets_sections.h"
#include "ts/core/growable.h"
#include "ts/core/log_sink.h"
#include "ts/split/start_point.h"
#include "ts/stream/packet_format.h"

namespace rivulet {

// The files of a cut that still take packets beside the entry's own: the
// older one, and the one before it while it ends PIDs the older never began.
constexpr uint32_t kOlderFile = 1;
constexpr uint32_t kPriorFile = 2;

// How a clean start writes files: units and sections go to the file of the
// split entry given.
struct CleanTargets {
    void* pUser;
    void (*write)(void* pUser, uint32_t entry, const uint8_t* unit, const UnitOrigin& origin);  // one output unit, copied
    // `section` as packets of its own on `pid`, behind the TP_extra_header at `prefix`.
    void (*writeSection)(void* pUser, uint32_t entry, uint16_t pid, const uint8_t* prefix, const uint8_t* section,
                         uint32_t size);
    // A cut: the older file (if open) becomes the prior one, the entry's
    // file the older one, and a next file opens (cut); a unit for the older
    // or prior file, copied (writeBefore); every PID has left that file, so
    // it is done (endBefore).
    void (*cut)(void* pUser, uint32_t entry);
    void (*writeBefore)(void* pUser, uint32_t entry, uint32_t file, const uint8_t* unit, const UnitOrigin& origin);
    void (*endBefore)(void* pUser, uint32_t entry, uint32_t file);
    // A waiting file reached its start: it is created now, named after what
    // is known at its first packet.
    void (*begin)(void* pUser, uint32_t entry);
    uint32_t u32Prefix;  // TP_extra_header bytes in front of each packet (set by cleanFilter)
    LogSink tLog;        // where its warnings go
};

struct CleanStart;

// `after`: the margin after a cut (27 MHz of the program's clock), during
// which the older file takes every packet of the program; it then ends at
// the next start point. `before`: the margin before a cut, for which each
// program's recent packets are kept. Null when memory is short.
CleanStart* cleanStartCreate(const CleanTargets& targets, uint64_t after, uint64_t before);
void cleanStartDestroy(CleanStart* clean);

// Makes room for entries 0 to count - 1; false when memory is short.
bool cleanReserve(CleanStart& clean, uint32_t count);

// Of entries 64 * word to 64 * word + 63, as bits: those whose files do not
// yet take every packet of their program, or whose cut's older file still
// takes packets.
uint64_t cleanUnsettled(const CleanStart& clean, uint32_t word);

// Split entry `entry` opened a file for program `programNumber`: with
// `cleanly`, it waits for its start; else it takes every packet at once.
// Closing: a cut still awaited has its held packets written to the file, an
// older file still open is done (both before the files are closed); it
// waits no more.
void cleanFileOpened(CleanStart& clean, uint32_t entry, uint16_t programNumber, bool cleanly);
void cleanFileClosed(CleanStart& clean, uint32_t entry);

// Entry `entry`'s started file is to be cut at its program's next start
// point (its files opened, its PMT known); whether such a cut is awaited.
void cleanCutBegin(CleanStart& clean, uint32_t entry);
bool cleanCutAwaited(const CleanStart& clean, uint32_t entry);
// The awaited cut is called off: the held packets go to the file.
void cleanCutCancel(CleanStart& clean, uint32_t entry);
// True while `entry`'s file has not yet begun (it waits for its first start).
bool cleanFileWaits(const CleanStart& clean, uint32_t entry);

// The PAT rebuilt for `entry`'s file, kept for the opening of its next file:
// true when held for its opening (the file waits), false when it is to be
// written now.
bool cleanHoldsPAT(CleanStart& clean, uint32_t entry, const uint8_t* unit, uint32_t size);

// A PMT section of `entry`'s program on `pmtPID` completed in the packet
// being fed (`begunEarlier`: it began in an earlier packet).
void cleanProgramPMT(CleanStart& clean, uint32_t entry, uint16_t pmtPID, const TS_PreSection& section,
                     bool begunEarlier);
// The PMT packet (output unit `unit`, from `origin`) carried bytes of the
// sections of `entries` (bits of entries 64 * word on): kept as the packets
// of their current PMT once a section completes.
void cleanPMTPacket(CleanStart& clean, const uint8_t* unit, uint32_t size, bool unitStart, uint64_t entries,
                    uint32_t word, const UnitOrigin& origin);

// A service information section for `entry`'s file (its rebuilt SDT, or an
// EIT section of its program): the SDT and EIT present/following are kept
// for its opening; true when the file waits and the section is not to be
// written now.
bool cleanKeepsSection(CleanStart& clean, uint32_t entry, uint16_t pid, const uint8_t* section, uint32_t size);

// Of the unsettled `entries` a packet is routed to (bits of entries
// 64 * word on), those whose files take it; writes the opening of each file that starts at it, and the packet to
// the older files of the cuts whose next files do not take it yet.
// `prefix`: the TP_extra_header bytes in front of each packet; `origin`:
// the packet's.
uint64_t cleanFilter(CleanStart& clean, const uint8_t* packet, const TS_Packet& header, uint64_t entries,
                     uint32_t word, uint32_t prefix, const UnitOrigin& origin);

}  // namespace rivulet

#endif
