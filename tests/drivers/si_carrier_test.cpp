// The service information a program's files carry (--si): the SDT actual
// rebuilt for each file's service and the EIT actual of that service, each
// section as packets of its own on its PID behind the TP_extra_header of the
// packet that completed it, with continuity counters per file and PID.

#include "tests/support/test.h"
#include "ts/split/si_carrier.h"

namespace {

using namespace rivulet;

const Bytes kExtraHeader = {0x01, 0x02, 0x03, 0x04};

// The SDT of service 1 alone, laid out by hand: table 0x42, section_length
// 25, transport_stream_id 1, version 0, current, section 0 of 0,
// original_network_id 1; service 1's entry with a service descriptor of type
// 1 named "One"; its CRC_32.
const Bytes kServiceOne = {0x42, 0xB0, 0x19, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x01, 0xFF, 0x00, 0x01, 0xFC,
                           0xF0, 0x08, 0x48, 0x06, 0x01, 0x00, 0x03, 'O',  'n',  'e',  0xB0, 0x68, 0x2E, 0xF7};

// Files 0 and 1, of programs 1 and 2: the units each got.
using Files = std::vector<Bytes>;

const SITargets kTargets = {
    2, [](void*, uint32_t index) { return int32_t(index + 1); },
    [](void* user, uint32_t index, const uint8_t* unit) {
        tsb::append((*static_cast<Files*>(user))[index], Bytes(unit, unit + 4 + TS_PACKET_SIZE));
        return int32_t(0);
    },
    nullptr, 4, nullptr};

Bytes carried(uint16_t pid, uint8_t cc, const Bytes& section) {
    Bytes units;
    for (const Bytes& packet : tsb::packetize(pid, section, cc)) tsb::append(units, tsb::concat({kExtraHeader, packet}));
    return units;
}

}  // namespace

TEST(SICarrier, EachFileGetsItsServicesSectionsWithCountersOfItsOwn) {
    const std::string longName(200, 'T');
    const Bytes sdt = tsb::numbered(sdtSection({{1, "One"}, {2, longName}}), 1, 1);
    const Bytes two = sdtSection({{2, longName}});
    const Bytes eit = tsb::presentEventSection(2, 0, 7);
    const struct {
        const char* what;
        uint16_t pid;
        Bytes section;
        bool reopened;  // file 0 opened again first
        Files want;
    } steps[] = {
        {"an SDT of two services: each file its own, section 0 of 0", 0x11, sdt, false, {carried(0x11, 0, kServiceOne), carried(0x11, 0, two)}},
        {"again: the counters go on", 0x11, sdt, false, {carried(0x11, 1, kServiceOne), carried(0x11, 2, two)}},
        {"an EIT of service 2: from 0 on its PID", 0x12, eit, false, {{}, carried(0x12, 0, eit)}},
        {"on ISDB's PIDs: from 0 on each", 0x26, eit, false, {{}, carried(0x26, 0, eit)}},
        {"on ISDB's PIDs: from 0 on each", 0x27, eit, false, {{}, carried(0x27, 0, eit)}},
        {"an EIT of no file's service", 0x12, tsb::presentEventSection(3, 0, 7), false, {{}, {}}},
        {"an EIT on the SDT's PID", 0x11, eit, false, {{}, {}}},
        {"an SDT on the EIT's PID", 0x12, sdt, false, {{}, {}}},
        {"a file opened again counts from 0", 0x11, sdt, true, {carried(0x11, 0, kServiceOne), carried(0x11, 4, two)}},
    };
    SICarrier carrier{};
    ASSERT_TRUE(siReserve(&carrier, 2));
    const Bytes completing = tsb::concat({kExtraHeader, Bytes(TS_PACKET_SIZE, 0)});
    for (const auto& step : steps) {
        if (step.reopened) siFileOpened(&carrier, 0);
        Files files(2);
        SITargets targets = kTargets;
        targets.pUser = &files;
        const TS_PreSection slot = sectionSlot(step.section);
        const TableSection section{TableKind::SDTActual, step.pid, &slot, &completing[4], 0, 0, 1, nullptr, nullptr};
        EXPECT_EQ(siTakeSection(&carrier, section, targets), 0) << step.what;
        for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(tsb::hex(files[i]), tsb::hex(step.want[i])) << step.what << " " << i;
    }
    siFree(&carrier);
}
