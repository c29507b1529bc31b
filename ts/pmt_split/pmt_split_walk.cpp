// The PMT-change walk: follows the program entry of the PAT, gathers the
// packets of each PMT section until it completes, and hands the sink the
// segment heads and the program's packets.
//
// A packet can end one PMT section and begin the next. It then belongs to
// both sections' heads; it is handed out again only for a PMT of another CRC
// (another output), so that no output receives one packet twice.
#include "ts/pmt_split/pmt_split_walk.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "rivulet/file_split.h"
#include "ts/core/bounded_count.h"
#include "ts/input/input_file.h"
#include "ts/programs/pat_table.h"
#include "ts/programs/program_routes.h"
#include "ts/stream/packet_format.h"
#include "ts/stream/packet_walk.h"
#include "ts/stream/section_feed.h"
#include "ts/tables/table_decoder.h"

namespace rivulet {
namespace {

constexpr uint32_t kProgramSlot = 0;
constexpr uint64_t kProgramBit = uint64_t(1) << kProgramSlot;
// Sections one packet can complete: a PSI section has at least 12 bytes and a
// payload at most 183 behind the pointer_field, plus the end of a pending one.
constexpr uint32_t kMaxCompletionsPerPacket = 1 + (TS_PACKET_SIZE - 5) / 12;
// The packets a section can touch, less the one that completes it: that one
// is handed out from the stream buffer.
constexpr uint32_t kPendingCapacity = TS_SECTION_MAX_PACKETS - 1;

// The CRCs of the segment heads that have carried one packet.
struct SentWith {
    uint32_t lu32CRC[kMaxCompletionsPerPacket];
    uint32_t u32Count;
};

// The packets of the PMT section being gathered, in stream order.
struct PendingSection {
    uint8_t lu8Packets[kPendingCapacity][kMaxOutputUnitSize];  // output units
    uint32_t u32Count;
    SentWith tFirstSentWith;  // heads that carried the first packet (it ended an earlier section)
};

struct SplitWalk {
    const PMTSplitSink* sink;
    uint8_t lu8SavedPAT[kMaxOutputUnitSize];  // output unit
    uint8_t u8HasProgram;
    uint16_t u16PMTPID;
    uint16_t u16ProgramNumber;
    TableDecoder* pDecoder;     // the PAT and the program's PMT PID
    PendingSection tPending;
    SentWith tCurrentSentWith;  // heads that carried the packet at hand
    ProgramRoutes routes;       // PIDs of the program under the PMT last verified
    int32_t status;
    TS_PMT tPMT;                // the PMT last verified; valid 0 before the first
    PacketWalk tWalk;
};

bool wasSentWith(const SentWith& sent, uint32_t crc) {
    for (uint32_t i = 0; i < sent.u32Count; ++i) {
        if (sent.lu32CRC[i] == crc) return true;
    }
    return false;
}

void noteSentWith(SentWith& sent, uint32_t crc) {
    if (sent.u32Count < kMaxCompletionsPerPacket && !wasSentWith(sent, crc)) sent.lu32CRC[sent.u32Count++] = crc;
}

void resetWalk(SplitWalk& w, const PMTSplitSink* sink) {
    w.sink = sink;
    std::memset(w.lu8SavedPAT, 0, sizeof w.lu8SavedPAT);
    w.u8HasProgram = 0;
    w.u16PMTPID = 0;
    w.tPending.u32Count = 0;
    w.tPending.tFirstSentWith.u32Count = 0;
    w.tCurrentSentWith.u32Count = 0;
    routesClear(&w.routes);
    w.status = 0;
    w.tPMT.valid = 0;
}

void dropPendingSection(SplitWalk& w, uint16_t pid) {
    tableDecoderAbandon(w.pDecoder, pid);
    w.tPending.u32Count = 0;
}

void send(SplitWalk& w, const uint8_t* packet) {
    if (w.status == 0) w.status = w.sink->onPacket(w.sink->pUser, packet, outputUnitSize(w.tWalk.tFormat));
}

// --- PAT --------------------------------------------------------------------

// Takes the program entry of a verified PAT. False when the PAT lists more
// than one program: the stream is not a single-program stream.
bool takeProgramEntry(SplitWalk& w, const TS_PAT& pat) {
    if (TS_PAT_DroppedPrograms(&pat) > 0) return false;
    const TS_PAT_Program* entry = nullptr;
    uint32_t programs = 0;
    forEachProgram(pat, [&](uint16_t, const TS_PAT_Program& program) {
        entry = &program;
        ++programs;
    });
    if (programs > 1) return false;
    bool samePID = entry && w.u8HasProgram && entry->program_map_PID == w.u16PMTPID;
    // A section gathered on a PID that is no longer the PMT PID is abandoned.
    if (!samePID) dropPendingSection(w, entry ? entry->program_map_PID : w.u16PMTPID);
    w.u8HasProgram = entry ? 1 : 0;
    w.u16PMTPID = entry ? entry->program_map_PID : 0;
    w.u16ProgramNumber = entry ? entry->program_number : 0;
    return true;
}

void takePAT(void* user, const TableSection& section) {
    SplitWalk& w = *static_cast<SplitWalk*>(user);
    if (w.status != 0) return;
    g_tSimpleData.tPAT = *section.pPAT;
    if (!takeProgramEntry(w, *section.pPAT)) {
        w.status = TS_ERR_NOT_SINGLE_PROGRAM;
        return;
    }
    std::memcpy(w.lu8SavedPAT, outputUnit(w.tWalk.tFormat, section.pPacket), outputUnitSize(w.tWalk.tFormat));
}

// --- PMT --------------------------------------------------------------------

// The saved PAT packet, then the packets of the completed section that no
// head of the same CRC has carried yet. Nothing when there are none.
void sendSegmentHead(SplitWalk& w, const uint8_t* packet, bool continuedSection, uint32_t crc) {
    const PendingSection& pending = w.tPending;
    uint32_t first = 0;
    uint32_t earlier = continuedSection ? pending.u32Count : 0;
    if (earlier > 0 && wasSentWith(pending.tFirstSentWith, crc)) first = 1;
    bool sendCurrent = !wasSentWith(w.tCurrentSentWith, crc);
    if (first == earlier && !sendCurrent) return;
    send(w, w.lu8SavedPAT);
    for (uint32_t i = first; i < earlier; ++i) send(w, pending.lu8Packets[i]);
    if (sendCurrent) send(w, outputUnit(w.tWalk.tFormat, packet));
    noteSentWith(w.tCurrentSentWith, crc);
}

void onPMTSection(SplitWalk& w, const TS_PreSection& slot, const uint8_t* packet, uint16_t pid, bool continuedSection) {
    uint16_t programNumber = 0;
    TS_PreSection_TableIdExtension(&slot, &programNumber);
    // Another program's PMT on the same PID is not this program's change.
    if (w.status != 0 || programNumber != w.u16ProgramNumber) return;
    TS_PMT& pmt = w.tPMT;
    TS_PMT_FromPreSection(&pmt, &slot, pid);
    routesSetProgram(&w.routes, kProgramSlot, &slot);
    w.status = w.sink->onPMT(w.sink->pUser, &pmt, outputUnitSize(w.tWalk.tFormat));
    if (w.status == 0) sendSegmentHead(w, packet, continuedSection, pmt.CRC_32);
}

// After the packet's sections: the section still being gathered, if any,
// carries this packet. One that began here starts a new list.
void keepPending(SplitWalk& w, const uint8_t* packet, const TS_Packet& header, const SectionFeed& feed) {
    PendingSection& pending = w.tPending;
    if (!feed.pendingAfter) {
        pending.u32Count = 0;
        return;
    }
    if (header.payload_unit_start_indicator) {
        pending.u32Count = 0;
        pending.tFirstSentWith = w.tCurrentSentWith;
    } else if (!feed.hadPayload) {
        return;
    } else if (pending.u32Count == kPendingCapacity) {
        // Spread too thin to be kept whole (adaptation fields in its packets).
        dropPendingSection(w, header.PID);
        return;
    }
    std::memcpy(pending.lu8Packets[pending.u32Count++], outputUnit(w.tWalk.tFormat, packet), outputUnitSize(w.tWalk.tFormat));
}

void takePMT(void* user, const TableSection& section) {
    onPMTSection(*static_cast<SplitWalk*>(user), *section.pSlot, section.pPacket, section.u16PID, section.u8BegunEarlier);
}

void handlePMTPacket(SplitWalk& w, const uint8_t* packet, const TS_Packet& header) {
    w.tCurrentSentWith.u32Count = 0;
    SectionFeed feed = tableDecoderFeed(w.pDecoder, packet, header, packetOffset(w.tWalk, packet));
    if (w.status == 0) keepPending(w, packet, header, feed);
}

// --- Packets ----------------------------------------------------------------

bool onPacket(SplitWalk& w, const uint8_t* packet, const TS_Packet& header) {
    if (header.PID == TS_PID_PAT) {
        tableDecoderFeed(w.pDecoder, packet, header, packetOffset(w.tWalk, packet));
    } else if (tableDecoderPAT(*w.pDecoder).valid) {
        if (w.u8HasProgram && header.PID == w.u16PMTPID) {
            handlePMTPacket(w, packet, header);
        } else if (w.tPMT.valid && (routesOf(&w.routes, 0, header.PID) & kProgramBit)) {
            send(w, outputUnit(w.tWalk.tFormat, packet));
        }
    }
    return w.status == 0;
}

}  // namespace

int32_t walkPMTSplit(int fd, const char* path, const PMTSplitSink* sink, bool* sawPAT) {
    SplitWalk* run = new (std::nothrow) SplitWalk;
    if (!run) return TS_ERR_NO_MEMORY;
    SplitWalk& w = *run;
    resetWalk(w, sink);
    int32_t status = TS_ERR_NO_MEMORY;
    const bool walking = routesReserve(&w.routes, 1) && walkOpen(&w.tWalk, WalkHook{nullptr, nullptr});
    w.pDecoder = walking ? tableDecoderCreate() : nullptr;
    const bool subscribed = w.pDecoder && tableSubscribe(w.pDecoder, TableKind::PAT, takePAT, &w) == 0 &&
                            tableSubscribe(w.pDecoder, TableKind::PMT, takePMT, &w) == 0;
    if (subscribed) {
        WalkEnd end = walkFile(w.tWalk, fd, [&](const uint8_t* packet, const TS_Packet& header) {
            return onPacket(w, packet, header);
        });
        status = w.status != 0 ? w.status : reportWalkEnd(end, path, w.tWalk.tStats, sink->tLog);
    }
    *sawPAT = w.pDecoder && tableDecoderPAT(*w.pDecoder).valid;
    tableDecoderDestroy(w.pDecoder);
    walkClose(&w.tWalk);
    routesFree(&w.routes);
    delete run;
    return status;
}

}  // namespace rivulet
