// ts/tables: the stream's tables, decoded once per run.
//
// The table decoder takes each packet of a run once, reassembles the sections
// of the PIDs its subscribers need, one slot per PID, checks each section's
// CRC_32 once, and hands the sections in force to every subscriber of their
// kind, with the input offset of the packet that completed them. The PAT is
// handed out whole (every section of one version); the PMT PIDs (of every
// program, however many) and the network PID follow the last whole PAT,
// ATSC's EIT-0 PID (and, for a guide, EIT-1..3 and the ETTs) the last MGT.
//
// A subscriber is a plain function and a user pointer per kind. It may ask
// for every completed section of its kind's PIDs instead: damaged ones, ones
// of other table_ids and ones not yet in force too (a dump shows them all).
//
// The caller owns the decoder (one per run). A PID's slot is allocated when
// the PID is first followed, and kept for when it is followed again: never
// per packet. A slot that cannot be had is said once ("Error: Out of
// memory.") to the run's log, and tableDecoderFailed says so from then on.
#ifndef RIVULET_TABLE_DECODER_H
#define RIVULET_TABLE_DECODER_H

#include <cstdint>

#include "rivulet/packets_sections.h"
#include "rivulet/tables.h"
#include "ts/core/log_sink.h"
#include "ts/programs/pat_table.h"
#include "ts/stream/section_feed.h"

namespace rivulet {

// What a subscriber asks for: the PIDs and table_ids of each kind.
enum class TableKind : uint8_t {
    PAT,                  // PID 0x0000, table 0x00: published whole
    CAT,                  // PID 0x0001, table 0x01
    PMT,                  // the PMT PIDs of the last whole PAT, table 0x02: every program's
    NIT,                  // the network PID of the last whole PAT (0x0010 before one names it), 0x40
    SDTActual,            // PID 0x0011, 0x42
    EITPresentFollowing,  // PID 0x0012, 0x4E (actual)
    EITActual,            // PIDs 0x0012, 0x0026, 0x0027: 0x4E and 0x50 to 0x5F
    EITOther,             // the same PIDs: 0x4F and 0x60 to 0x6F
    TDT,                  // PID 0x0014, 0x70 (no CRC_32)
    TOT,                  // PID 0x0014, 0x73
    SIT,                  // PID 0x001F, 0x7F
    MGT,                  // PID 0x1FFB, 0xC7
    VCT,                  // PID 0x1FFB, 0xC8 (terrestrial) and 0xC9 (cable)
    STT,                  // PID 0x1FFB, 0xCD
    ATSCEIT,              // the EIT-0 PID the last MGT names, 0xCB
    ATSCGuide,            // the EIT-0..3 and ETT-0..3 PIDs the last MGT names, 0xCB and 0xCC
};
constexpr uint32_t kTableKinds = uint32_t(TableKind::ATSCGuide) + 1;
static_assert(kTableKinds <= 16, "a PID's kinds are the bits of 16");
constexpr uint32_t kATSCGuidePIDs = 8;  // EIT-0..3, ETT-0..3

// One section handed to a subscriber.
struct TableSection {
    TableKind eKind;
    uint16_t u16PID;
    const TS_PreSection* pSlot;  // the section: body[0 .. section_total_length)
    const uint8_t* pPacket;      // the packet that completed it (188 bytes; an M2TS header in front)
    uint64_t u64Offset;          // that packet's input offset
    uint8_t u8BegunEarlier;      // the section began in an earlier packet
    uint8_t u8Verified;          // table_id and CRC_32 check and it is in force (always 1 but for every-section subscribers)
    // Kind PAT, to subscribers of whole tables: the table made whole (entries
    // of every section in order, as one section) and the whole one before it.
    const TS_PAT* pPAT;
    const TS_PAT* pPreviousPAT;
};

using TableCallback = void (*)(void* pUser, const TableSection& section);

constexpr uint32_t kMaxTableSubscriptions = 32;

struct TableSubscription {
    TableKind eKind;
    uint8_t u8Every;  // every completed section of the kind's PIDs, verified or not
    TableCallback pfOn;
    void* pUser;
};

struct TableDecoder {
    TS_PreSection* lpSlot[TS_PID_COUNT];  // each PID's reassembly, from when it is first followed
    uint16_t lu16Kinds[TS_PID_COUNT];   // bit per TableKind: what each PID carries (0: not followed)
    uint16_t u16Wanted;                 // bit per kind some subscriber asked for
    uint16_t u16WantedEvery;            // bit per kind some subscriber asked every section of
    uint64_t lu64PMTPIDs[TS_PID_COUNT / 64];  // the PMT PIDs of the last whole PAT
    uint16_t u16NetworkPID;
    uint16_t u16ATSCEITPID;             // kNoPID until an MGT names it
    uint16_t lu16ATSCGuidePID[kATSCGuidePIDs];  // the EIT-k and ETT-k PIDs it names; kNoPID for none
    uint8_t u8MemoryShort;              // a slot or the whole PAT could not be had
    PATTable tPAT;                      // keeps every entry of the whole PAT (u8Every)
    TableSubscription ltSubscription[kMaxTableSubscriptions];
    uint32_t u32Subscriptions;
    uint64_t lu64Reassembled[kTableKinds];  // verified sections in force, per kind (a PAT's sections, not tables)
    LogSink tLog;                       // the run's: the PAT's warning, a failure of memory
};

// A decoder that follows nothing yet, telling `log`; null when its memory
// cannot be had. `everyProgram`: its run reads every entry of the whole PAT
// (tableDecoderPrograms); else the first TS_PAT_MAX_PROGRAMS, and the PAT's
// warning says the others are skipped.
TableDecoder* tableDecoderCreate(const LogSink& log = LogSink{}, bool everyProgram = false);
void tableDecoderDestroy(TableDecoder* decoder);

// Calls fn(pUser, section) for each section of `kind` from now on. 0, or -1
// when the subscriptions are full.
int32_t tableSubscribe(TableDecoder* decoder, TableKind kind, TableCallback fn, void* pUser);
// The same for every completed section of the kind's PIDs, verified or not
// (u8Verified says), each section of PID 0 alone rather than whole PATs.
int32_t tableSubscribeEvery(TableDecoder* decoder, TableKind kind, TableCallback fn, void* pUser);
// Subscribers of a kind are called in the order they subscribed, but that
// those from the `from`th subscription on go ahead of the earlier ones: for
// one that comes later and must read each section first (a watch that
// chooses programs before a split acts on the PAT).
void tableSubscriptionsAhead(TableDecoder* decoder, uint32_t from);

// Whether packets of `pid` carry sections the decoder gathers.
inline bool tableDecoderFollows(const TableDecoder& decoder, uint16_t pid) {
    const uint16_t at = pid & (TS_PID_COUNT - 1);
    return decoder.lu16Kinds[at] != 0 && decoder.lpSlot[at] != nullptr;
}

// Whether memory ran short: a PID went unread, or a PAT's entries were cut.
inline bool tableDecoderFailed(const TableDecoder& decoder) { return decoder.u8MemoryShort != 0; }

// Takes one packet of the run (its header parsed) at input offset `offset`,
// and publishes the sections it completes. Returns what the packet gave its
// PID's slot (section_feed.h): empty for a PID the decoder does not follow.
SectionFeed tableDecoderFeed(TableDecoder* decoder, const uint8_t* packet, const TS_Packet& header, uint64_t offset);

// Abandons the section being gathered on `pid`, if any, for every subscriber:
// for a run whose one subscriber cannot keep its packets.
void tableDecoderAbandon(TableDecoder* decoder, uint16_t pid);

// The last whole PAT (valid 0 before the first): its first TS_PAT_MAX_PROGRAMS
// entries, and every entry of it and of the whole one before it.
inline const TS_PAT& tableDecoderPAT(const TableDecoder& decoder) { return decoder.tPAT.tWhole; }
inline const Growable<TS_PAT_Program>& tableDecoderPrograms(const TableDecoder& decoder) {
    return decoder.tPAT.lWhole;
}
inline const Growable<TS_PAT_Program>& tableDecoderPreviousPrograms(const TableDecoder& decoder) {
    return decoder.tPAT.lPrevious;
}

// Sections of `kind` reassembled and verified since the decoder was created.
inline uint64_t tableDecoderReassembled(const TableDecoder& decoder, TableKind kind) {
    return decoder.lu64Reassembled[uint32_t(kind)];
}

}  // namespace rivulet

#endif
