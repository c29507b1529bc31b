#include "ts/stream/packet_walk.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <utility>

#include "ts/stream/progress.h"

namespace rivulet {
namespace {

PhaseCheck moveTo(PacketWalk* w, uint64_t pos) {
    w->tStats.u64Skipped += pos - w->u64Pos;
    w->u64Pos = pos;
    return PhaseCheck::Moved;
}

// The packet in hand has its sync byte, but its header bytes could begin a
// phase too, or it is not a packet at all (junk that begins with 0x47): the
// best phase from it on within a packet, the packet in hand among them.
PhaseCheck judgeInStep(PacketWalk* w, bool atEnd) {
    const uint32_t size = w->tFormat.u32Size;
    const uint32_t prefix = w->tFormat.u32Prefix;
    const uint64_t here = w->u64Pos + prefix;
    // A packet that goes on from its PID's last one is the stream's, even
    // where junk behind it lines a header byte up with the next packets.
    if (continuesItsPID(w->lu8Buffer + here, &w->tHistory)) return PhaseCheck::Here;
    if (!atEnd && here + size + kPhaseWindow > w->u64Size) return PhaseCheck::NeedMore;
    const uint8_t* data = w->lu8Buffer;
    uint64_t best = bestPhase(data, w->u64Size, here, size, size, TS_PACKET_SIZE, &w->tHistory, true);
    if (best == here || best == w->u64Size) return PhaseCheck::Here;
    // Junk behind the packet in hand would line the same packets up behind
    // it as the better phase has: then the two differ in their first packet
    // only, and the packet in step keeps its place unless that phase's is better.
    int32_t kept = chainEvidence(data, w->u64Size, here, best + size, size, &w->tHistory);
    int32_t moved = phaseEvidence(data, w->u64Size, best, size, &w->tHistory);
    return kept >= moved ? PhaseCheck::Here : moveTo(w, best - prefix);
}

// Regains sync: finds the first sync byte that can begin a phase, then takes
// the best phase within a packet of it.
PhaseCheck resync(PacketWalk* w, bool atEnd) {
    const uint32_t size = w->tFormat.u32Size;
    const uint32_t prefix = w->tFormat.u32Prefix;
    const uint8_t* data = w->lu8Buffer;
    const uint64_t end = w->u64Size;
    const uint64_t original = w->u64Pos;
    uint64_t from = w->u64Pos + prefix + (w->u8Resyncing ? 0 : 1);
    w->u8Resyncing = 1;
    for (;;) {
        const void* hit = from < end ? std::memchr(data + from, TS_SYNC_BYTE, end - from) : nullptr;
        if (!hit) {
            // What is left may be the header of a packet whose sync byte is to come.
            uint64_t keep = end > w->u64Pos + prefix ? end - prefix : w->u64Pos;
            moveTo(w, keep);
            return atEnd ? PhaseCheck::Moved : PhaseCheck::NeedMore;
        }
        uint64_t sync = uint64_t(static_cast<const uint8_t*>(hit) - data);
        moveTo(w, sync - prefix);
        if (!atEnd && sync + size + kPhaseWindow > end) return PhaseCheck::NeedMore;
        uint64_t best = bestPhase(data, end, sync, size, size, TS_PACKET_SIZE, &w->tHistory, false);
        if (best != end) {
            w->u8Resyncing = 0;
            moveTo(w, best - prefix);
            return w->u64Pos == original ? PhaseCheck::Here : PhaseCheck::Moved;
        }
        from = sync + size;
    }
}

}  // namespace

bool walkOpen(PacketWalk* walk, WalkHook beforeMove) {
    walk->lu8Buffer = new (std::nothrow) uint8_t[kWalkBufferSize];
    walk->lu8Spare = nullptr;
    walk->u64Size = 0;
    walk->u64Pos = 0;
    walk->u64Base = 0;
    walk->tFormat = kPlainFormat;
    walk->tStats = WalkStats{};
    walk->u64Expected = 0;
    walk->u32Streak = 0;
    walk->u8Started = 0;
    walk->u8Resyncing = 0;
    walk->u64TriedAt = 0;
    walk->tBeforeMove = beforeMove;
    walk->pfProgress = nullptr;
    walk->pProgressUser = nullptr;
    walk->pStop = nullptr;
    std::memset(&walk->tHistory, 0, sizeof walk->tHistory);
    return walk->lu8Buffer != nullptr;
}

void walkClose(PacketWalk* walk) {
    delete[] walk->lu8Buffer;
    delete[] walk->lu8Spare;
    walk->lu8Buffer = nullptr;
    walk->lu8Spare = nullptr;
}

bool walkAlternate(PacketWalk* walk) {
    if (!walk->lu8Spare) walk->lu8Spare = new (std::nothrow) uint8_t[kWalkBufferSize];
    return walk->lu8Spare != nullptr;
}

uint64_t walkCompact(PacketWalk* walk) {
    if (walk->tBeforeMove.fn) walk->tBeforeMove.fn(walk->tBeforeMove.pUser);
    uint64_t tail = walk->u64Size - walk->u64Pos;
    if (walk->lu8Spare) {
        std::memcpy(walk->lu8Spare, walk->lu8Buffer + walk->u64Pos, tail);
        std::swap(walk->lu8Buffer, walk->lu8Spare);
    } else {
        std::memmove(walk->lu8Buffer, walk->lu8Buffer + walk->u64Pos, tail);
    }
    walk->u64Base += walk->u64Pos;
    walk->u64Size = tail;
    walk->u64Pos = 0;
    return kWalkBufferSize - tail;
}

bool walkCanStart(PacketWalk* walk) {
    // Bytes behind a confirmed first packet that every check of the search
    // reads: its confirmations, and the judgement of the phases within a packet.
    constexpr uint64_t kMargin = (kFormatConfirmations + 2) * TS_MAX_PACKET_SIZE + kPhaseWindow;
    // Searching again costs a pass over the buffer: only after a few kB more.
    constexpr uint64_t kRetryStep = 4096;
    if (walk->u64Size >= kFormatWindowSize) return true;
    if (walk->u64Size < walk->u64TriedAt + kRetryStep) return false;
    walk->u64TriedAt = walk->u64Size;
    PacketFormat format = detectPacketFormat(walk->lu8Buffer, walk->u64Size);
    uint64_t furthest = format.u32First > format.u32Anchor ? format.u32First : format.u32Anchor;
    return format.u8Confirmed && furthest + kMargin <= walk->u64Size;
}

void walkStart(PacketWalk* walk) {
    walk->tFormat = detectPacketFormat(walk->lu8Buffer, walk->u64Size);
    uint64_t first = walk->tFormat.u32First;
    walk->u64Pos = first < walk->u64Size ? first : walk->u64Size;
    walk->tStats.u64Skipped = walk->u64Pos;
    bool anchored = walk->tFormat.u8Confirmed || walk->u64Pos == 0;
    walk->u64Expected = anchored ? walk->u64Base + walk->u64Pos : UINT64_MAX;
    walk->u32Streak = anchored ? 1 : 0;
    walk->u8Started = 1;
}

PhaseCheck walkCheckPhase(PacketWalk* walk, bool atEnd) {
    const uint8_t* packet = walk->lu8Buffer + walk->u64Pos + walk->tFormat.u32Prefix;
    if (*packet == TS_SYNC_BYTE && !walk->u8Resyncing) return judgeInStep(walk, atEnd);
    return resync(walk, atEnd);
}

int64_t readInto(PacketWalk& walk, int fd, uint8_t* into, size_t want) {
    ssize_t n;
    do {
        n = ::read(fd, into, want);
    } while (n < 0 && errno == EINTR && !walkStopRequested(walk));
    if (n < 0) walk.tStats.nReadError = errno;
    return n;
}

int64_t walkRead(PacketWalk* walk, int fd) {
    uint64_t room = walkCompact(walk);
    size_t want = room < kReadSize ? size_t(room) : kReadSize;
    const int64_t n = readInto(*walk, fd, walk->lu8Buffer + walk->u64Size, want);
    if (n > 0) {
        walk->u64Size += uint64_t(n);
        walk->tStats.u64Received += uint64_t(n);
    }
    return n;
}

Readiness waitReadable(const PacketWalk& w, int fd, int64_t ms) {
    for (;;) {
        if (walkStopRequested(w)) return Readiness::Stopped;
        if (ms == 0) return Readiness::Quiet;
        const int slice = ms < 0 || ms > kStopCheckMs ? kStopCheckMs : int(ms);
        pollfd ready{fd, POLLIN, 0};
        int polled = ::poll(&ready, 1, slice);
        // An error: the read that follows tells. A signal: look again.
        if (polled > 0 || (polled < 0 && errno != EINTR)) return Readiness::Readable;
        if (polled == 0 && ms > 0) ms -= slice;
    }
}

bool isLiveDescriptor(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

void enlargePipe(int fd) {
    // Where the system refuses, or `fd` is no pipe, nothing changes.
    ::fcntl(fd, F_SETPIPE_SZ, int(kReadSize));
}

uint64_t inputSize(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
}

WalkEnd checkFileEnd(PacketWalk& w, int fd, uint64_t size, WalkEnd end) {
    const off_t reached = end == WalkEnd::EndOfInput && size > 0 ? ::lseek(fd, 0, SEEK_CUR) : -1;
    if (reached < 0 || uint64_t(reached) >= size) return end;
    w.tStats.nReadError = kInputShrank;
    return WalkEnd::ReadError;
}

void walkReportProgress(const PacketWalk* walk, uint64_t total) {
    if (walk->pfProgress) {
        walk->pfProgress(walk->u64Base + walk->u64Size, total, walk->pProgressUser);
    } else {
        reportProgress(walk->u64Base + walk->u64Size, total);
    }
}

}  // namespace rivulet
