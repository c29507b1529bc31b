// Feeding the table decoder: a packet to its PID's slot, each completed
// section checked once and handed to the subscribers of every kind it is of.
#include "ts/tables/table_decoder.h"

#include <algorithm>
#include <iterator>
#include <new>

#include "ts/section/psip.h"
#include "ts/tables/table_pids.h"

namespace rivulet {
namespace {

// The kinds gathered with the shorter limits of PSI (a PMT of 1021 bytes at
// most, and so on); every other PID's sections may be as long as SI's.
constexpr uint16_t kPSIKinds = kindBit(TableKind::PAT) | kindBit(TableKind::CAT) | kindBit(TableKind::PMT);

int32_t subscribe(TableDecoder* d, TableKind kind, uint8_t every, TableCallback fn, void* user) {
    if (!d || !fn || uint32_t(kind) >= kTableKinds || d->u32Subscriptions == kMaxTableSubscriptions) return -1;
    d->ltSubscription[d->u32Subscriptions++] = TableSubscription{kind, every, fn, user};
    uint16_t& wanted = every ? d->u16WantedEvery : d->u16Wanted;
    wanted = uint16_t(wanted | kindBit(kind));
    refreshFixedPIDs(*d);
    return 0;
}

void noteMemoryShort(TableDecoder& d) {
    if (!d.u8MemoryShort) logMessage(d.tLog, TS_LOG_ERROR, "Error: Out of memory.\n");
    d.u8MemoryShort = 1;
}

void publish(const TableDecoder& d, const TableSection& section, uint8_t every) {
    for (uint32_t i = 0; i < d.u32Subscriptions; ++i) {
        const TableSubscription& s = d.ltSubscription[i];
        if (s.eKind == section.eKind && s.u8Every == every) s.pfOn(s.pUser, section);
    }
}

// What the decoder itself reads of a verified section: a PAT's sections make
// whole tables, which name the PMT and network PIDs; an MGT names EIT-0's
// and the guide's.
// False when a PAT section leaves its table incomplete.
bool learnFrom(TableDecoder& d, TableSection& section) {
    if (section.eKind == TableKind::PAT) {
        if (!patTableAdd(&d.tPAT, section.pSlot)) return false;
        if (d.tPAT.u8MemoryShort) noteMemoryShort(d);
        followPAT(d);
        section.pPAT = &d.tPAT.tWhole;
        section.pPreviousPAT = &d.tPAT.tPrevious;
    } else if (section.eKind == TableKind::MGT) {
        followATSCEIT(d, eitZeroPID(*section.pSlot));
        uint16_t guide[kATSCGuidePIDs];
        atscGuidePIDs(*section.pSlot, guide);
        followATSCGuide(d, guide);
    }
    return true;
}

void onSection(TableDecoder& d, TableSection section, uint16_t kinds) {
    // Kinds read for subscribers of their verified sections: the others are
    // only shown, and make no tables whole.
    const uint16_t read = neededKinds(d.u16Wanted);
    const TS_PreSection& slot = *section.pSlot;
    const uint8_t tableId = slot.body[0];
    const bool crcValid = TS_PreSection_Verify(&slot, tableId) == 0;
    const bool inForce = isCurrent(slot);
    for (uint32_t k = 0; k < kTableKinds; ++k) {
        section.eKind = TableKind(k);
        if (!(kinds & kindBit(section.eKind))) continue;
        const bool checks = crcValid || !kindHasCRC(section.eKind);
        section.u8Verified = kindHasTable(section.eKind, tableId) && checks && inForce;
        section.pPAT = nullptr;
        section.pPreviousPAT = nullptr;
        publish(d, section, 1);
        if (!section.u8Verified) continue;
        ++d.lu64Reassembled[k];
        if ((read & kindBit(section.eKind)) && learnFrom(d, section)) publish(d, section, 0);
    }
}

}  // namespace

TableDecoder* tableDecoderCreate(const LogSink& log, bool everyProgram) {
    TableDecoder* d = new (std::nothrow) TableDecoder();  // zeroed: no slot, no kind, no count
    if (!d) return nullptr;
    d->u16NetworkPID = 0x0010;
    d->u16ATSCEITPID = kNoPID;
    std::fill(std::begin(d->lu16ATSCGuidePID), std::end(d->lu16ATSCGuidePID), kNoPID);
    d->tLog = log;
    patTableReset(&d->tPAT, log);
    d->tPAT.u8Every = 1;
    d->tPAT.u8ReadsEvery = everyProgram;
    return d;
}

void tableDecoderDestroy(TableDecoder* d) {
    if (!d) return;
    for (TS_PreSection* slot : d->lpSlot) delete slot;
    patTableFree(&d->tPAT);
    delete d;
}

int32_t tableSubscribe(TableDecoder* d, TableKind kind, TableCallback fn, void* user) {
    return subscribe(d, kind, 0, fn, user);
}

int32_t tableSubscribeEvery(TableDecoder* d, TableKind kind, TableCallback fn, void* user) {
    return subscribe(d, kind, 1, fn, user);
}

void tableSubscriptionsAhead(TableDecoder* d, uint32_t from) {
    TableSubscription* first = d->ltSubscription;
    if (from < d->u32Subscriptions) std::rotate(first, first + from, first + d->u32Subscriptions);
}

SectionFeed tableDecoderFeed(TableDecoder* d, const uint8_t* packet, const TS_Packet& header, uint64_t offset) {
    const uint16_t pid = header.PID & (TS_PID_COUNT - 1);
    if (!tableDecoderFollows(*d, pid)) return SectionFeed{};
    // Kinds as the packet found them: a PAT it completes may change them.
    const uint16_t kinds = d->lu16Kinds[pid];
    SectionImport import = (kinds & ~kPSIKinds) ? TS_SI_ImportPreSection : TS_PAT_ImportPreSection;
    return feedSections(*d->lpSlot[pid], import, packet, header, kAnyTableId,
                        [&](const TS_PreSection& section, bool begunEarlier) {
                            TableSection published{};
                            published.u16PID = pid;
                            published.pSlot = &section;
                            published.pPacket = packet;
                            published.u64Offset = offset;
                            published.u8BegunEarlier = begunEarlier;
                            onSection(*d, published, kinds);
                        });
}

void tableDecoderAbandon(TableDecoder* d, uint16_t pid) {
    if (tableDecoderFollows(*d, pid)) TS_PreSection_Initialise(d->lpSlot[pid & (TS_PID_COUNT - 1)]);
}

}  // namespace rivulet
