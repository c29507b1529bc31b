// Every entry point of the toolkit given a null (or impossible) argument
// answers with its documented status and touches nothing.

#include <algorithm>
#include <set>

#include "tests/support/test.h"

TEST(EntryPoints, NullArgumentsGetTheirStatus) {
    static TS_PreSection slot;
    static TS_Payload payload;
    static TS_Section_Private priv;
    static TS_PAT pat;
    static TS_PMT pmt;
    static TS_CAT cat;
    static TS_Data data;
    TS_Packet packet{};
    TS_PCR pcr{};
    TS_PAT_Program entry{};
    TS_AdaptationField field{};
    uint8_t bytes[188] = {0x47};
    uint16_t pid = 0;
    uint64_t u64 = 0;
    TS_ProgramList list{};
    static TS_ServiceList services;
    static TS_PMTSplitData split;
    static TS_CheckResult check;
    TS_SplitOptions options{};
    TS_ExtractOptions extract{};
    TS_ServiceWatch* watch = TS_ServiceWatch_Open();
    TempDir dir;
    TS_Splitter* splitter = TS_Splitter_Open(dir.file("in.ts").c_str(), &options);
    TS_SplitRun* run = TS_SplitRun_Open();
    ASSERT_TRUE(watch && splitter && run);
    TS_PreSection_Initialise(&slot);
    const struct {
        const char* call;
        std::vector<int64_t> statuses;
        int64_t want;  // of each: -1 for a null required pointer
    } calls[] = {
        {"Packet_Get", {TS_Packet_Get(nullptr, bytes), TS_Packet_Get(&packet, nullptr)}, -1},
        {"Packet_GetAdaptationField", {TS_Packet_GetAdaptationField(nullptr, &packet, bytes),
                                          TS_Packet_GetAdaptationField(&field, nullptr, bytes),
                                          TS_Packet_GetAdaptationField(&field, &packet, nullptr)}, -1},
        {"Payload_Begin", {TS_Payload_Begin(nullptr, &packet, bytes)}, -1},
        {"Payload_HasData", {TS_Payload_HasData(nullptr)}, 0},
        {"ImportPreSection", {TS_PAT_ImportPreSection(&slot, nullptr), TS_CAT_ImportPreSection(nullptr, &payload),
                                 TS_PMT_ImportPreSection(nullptr, &payload), TS_Section_ImportPreSection(nullptr, &payload),
                                 TS_SI_ImportPreSection(nullptr, &payload)}, -1},
        {"PreSection", {TS_PreSection_Initialise(nullptr), TS_PreSection_Verify(nullptr, 0),
                           TS_PreSection_TableIdExtension(nullptr, &pid), TS_PreSection_TableIdExtension(&slot, nullptr)}, -1},
        {"PreSection_Continues", {TS_PreSection_Continues(nullptr, &payload), TS_PreSection_Continues(&slot, nullptr)}, 0},
        {"PAT", {TS_PAT_GetProgramData(nullptr, bytes), TS_PAT_GetProgramData(&entry, nullptr), TS_PAT_FromPreSection(nullptr, &slot),
                    TS_PAT_FromPreSection(&pat, nullptr), TS_PAT_ToPacket(nullptr, &packet, &pat),
                    TS_PAT_ToPacket(bytes, nullptr, &pat), TS_PAT_ToPacket(bytes, &packet, nullptr)}, -1},
        {"PAT_DroppedPrograms", {TS_PAT_DroppedPrograms(nullptr)}, 0},
        {"PMT", {TS_PMT_FromPreSection(nullptr, &slot, 0), TS_PMT_FromPreSection(&pmt, nullptr, 0),
                    TS_PMT_GetStreamInfo(nullptr, bytes, 5), TS_GetCAPIDFromPMT(nullptr, &pmt), TS_GetCAPIDFromPMT(&pid, nullptr)}, -1},
        {"IsStreamPIDOfPMT", {TS_IsStreamPIDOfPMT(nullptr, 0)}, 0},
        {"CAT", {TS_CAT_FromPreSection(nullptr, &slot), TS_CAT_FromPreSection(&cat, nullptr), TS_GetCAPIDFromCAT(nullptr, &cat),
                    TS_GetCAPIDFromCAT(&pid, nullptr)}, -1},
        {"Private", {TS_Section_PrivateFromPreSection(nullptr, &slot), TS_Section_PrivateFromPreSection(&priv, nullptr),
                        TS_Section_GetCardIdFromEMM(nullptr, &priv), TS_Section_GetCardIdFromEMM(&u64, nullptr)}, -1},
        {"PrivateDataLength", {TS_Section_PrivateDataLength(nullptr)}, 0},
        {"PCR", {TS_PCR_Import(nullptr, bytes), TS_PCR_Import(&pcr, nullptr), TS_PCR_FromAdaptationField(nullptr, &field),
                    TS_PCR_FromAdaptationField(&pcr, nullptr)}, -1},
        {"AccessPoint", {TS_AccessPoint_Initialise(nullptr, 0x1B), TS_AccessPoint_Feed(nullptr, bytes)}, -1},
        {"Stream context", {TS_Initialise(nullptr), TS_InitialiseSimple(nullptr), TS_AddStream(nullptr, bytes, 1),
                               TS_AddStream(&data, nullptr, 1), TS_AddStreamSimple(nullptr, bytes, 1)}, -1},
        {"Drivers", {TS_Print(nullptr, 0), TS_CheckPMTSplit(nullptr, "x"), TS_CheckPMTSplit(&split, nullptr),
                        TS_PMTSplitFile(nullptr, 1, 0, nullptr), TS_ProgramSplitFile(nullptr), TS_ProgramSplitFileWith("x", nullptr),
                        TS_ExtractProgram(nullptr, "x", &extract), TS_ExtractProgram("x", nullptr, &extract),
                        TS_ExtractProgram("x", "y", nullptr), TS_ListEvents(nullptr, [](void*, const TS_AnnouncedEvent*) {}, nullptr),
                        TS_ListEvents("x", nullptr, nullptr), TS_CheckStream(nullptr, "x", nullptr, nullptr),
                        TS_CheckStream(&check, nullptr, nullptr, nullptr)}, -1},
        {"Program lists", {TS_GetProgramList(nullptr, "x"), TS_GetProgramList(&list, nullptr),
                              TS_GetProgramServices(&list, nullptr, "x"), TS_GetProgramServicesLive(&list, &services, nullptr, 0)}, -1},
        {"ServiceWatch", {TS_ServiceWatch_Feed(nullptr, bytes, 1), TS_ServiceWatch_Feed(watch, nullptr, 1),
                             TS_ServiceWatch_Facts(watch, 1, 0, nullptr), TS_ServiceWatch_Clock(watch, nullptr),
                             TS_ServiceWatch_Clock(watch, &u64), TS_ServiceWatch_ReadInput(watch, nullptr, 0, 0)}, -1},
        {"ServiceWatch counts", {TS_ServiceWatch_Programs(nullptr, &pid, &pid, 1), TS_ServiceWatch_Settled(watch, 0),
                                    (TS_ServiceWatch_WantedPIDs(nullptr) != nullptr)}, 0},
        {"Splitter", {TS_Splitter_Feed(nullptr, bytes, 1), TS_Splitter_Feed(splitter, nullptr, 1), TS_Splitter_FeedFrom(nullptr, 0),
                         TS_Splitter_FeedFrom(splitter, -1), TS_Splitter_Settle(nullptr), TS_Splitter_Close(nullptr),
                         TS_Splitter_AddProgram(nullptr, 1), TS_Splitter_AddProgram(splitter, 0), TS_Splitter_SetFileList(splitter, nullptr)}, -1},
        {"Splitter_InputEnd", {int64_t(TS_Splitter_InputEnd(nullptr))}, 0},
        {"SplitRun", {TS_SplitRun_ProtectInput(nullptr, "x"), TS_SplitRun_ProtectInput(run, nullptr), TS_SplitRun_Holds(nullptr, "x"),
                         TS_SplitRun_Holds(run, nullptr)}, -1},
    };
    for (const auto& c : calls) {
        for (size_t i = 0; i < c.statuses.size(); ++i) EXPECT_EQ(c.statuses[i], c.want) << c.call << " #" << i;
    }
    const std::string missing = dir.file("none.ts");
    const char* none = missing.c_str();
    TS_ExtractOptions byPID{0, 0, 0x100, 0};
    std::vector<int32_t> statuses;
    std::vector<int32_t> printers;  // of nothing: -1, and not a byte printed
    Outcome opened = captured([&] {
        statuses = {TS_Print(none, 0), TS_CheckStream(&check, none, nullptr, nullptr),
                                         TS_ListEvents(none, [](void*, const TS_AnnouncedEvent*) {}, nullptr),
                                         TS_GetProgramList(&list, none), TS_ExtractProgram(dir.file("x.ts").c_str(), none, &byPID),
                                         TS_ProgramSplitFile(none), TS_CheckPMTSplit(&split, none), TS_PMTSplitFile(none, 1, 0, nullptr)};
        printers = {TS_Packet_Print(nullptr), TS_Packet_PrintHeader(nullptr), TS_Packet_Print_RAW(nullptr), TS_PAT_Print(nullptr),
                    TS_CAT_Print(nullptr), TS_PMT_Print(nullptr), TS_PCR_Print(nullptr), TS_Section_PrintPrivate(nullptr),
                    TS_Section_PrintEMM(nullptr), TS_Descriptor_Print(nullptr), TS_Descriptor_PrintRAW(nullptr)};
        return 0;
    });
    EXPECT_EQ(statuses, std::vector<int32_t>(8, TS_ERR_OPEN_INPUT)) << opened.err;
    EXPECT_EQ(printers, std::vector<int32_t>(11, -1));
    EXPECT_EQ(opened.out, "");
    // The longest input path whose file names fit ("_FFFFFFFF.m2ts" behind it), and one byte more.
    const std::string longest(TS_NAME_BUFFER_SIZE - 1 - 14, 'p');
    EXPECT_EQ(captured([&] { return TS_PMTSplitFile(longest.c_str(), 1, 0, nullptr); }).status, TS_ERR_OPEN_INPUT);
    EXPECT_EQ(captured([&] { return TS_PMTSplitFile((longest + "p").c_str(), 1, 0, nullptr); }).status, TS_ERR_NAME_TOO_LONG);
    // The splitter's: "./" before and "_65535_65535_18446744073709551615_65535-65536.m2ts" behind.
    const std::string longestBase(TS_NAME_BUFFER_SIZE - 1 - 2 - 50, 'p');
    for (const std::string& base : {longestBase, longestBase + "p"}) {
        int32_t status = 0;
        captured([&] {
            TS_SplitOptions options{};
            TS_Splitter_Close(TS_Splitter_OpenWithStatus(base.c_str(), &options, &status));
            return 0;
        });
        EXPECT_EQ(status, base == longestBase ? 0 : TS_ERR_NAME_TOO_LONG);
    }
    EXPECT_STREQ(TS_InputName(nullptr), "");
    EXPECT_EQ(TS_Splitter_Open(nullptr, nullptr), nullptr);
    TS_ServiceWatch_Packet(nullptr, bytes, 0);
    TS_ServiceWatch_Packet(watch, nullptr, 0);
    TS_ServiceWatch_End(nullptr);
    TS_ServiceWatch_GiveUp(nullptr);
    TS_ServiceWatch_Close(nullptr);
    TS_Splitter_Abandon(nullptr);
    TS_SplitRun_Close(nullptr);
    TS_ServiceWatch_Close(watch);
    TS_SplitRun_Close(run);
    TS_Splitter_Abandon(splitter);
}

// The watch's clock: the last PCR, to the tick, of the first PID that carries
// one. Its wanted PIDs: the tables' and the PMT PIDs of the PAT. Its names
// settle on an SDT only once every section of it is in.
TEST(EntryPoints, TheWatchKnowsItsClockItsPIDsAndWhenNamesSettle) {
    tsb::Stream188 s;
    s.pat({{1, 0x100}, {2, 0x1FFA}, {3, 0x100}});
    // An SDT of two sections, the last first: names settle once both have come.
    size_t oneSection = 0;
    for (uint8_t number : {1, 0}) {
        s.section(0x11, tsb::numbered(tsb::section(0x42, 1, 0, {0x20, 0xFA, 0xFF, 0, uint8_t(2 - number), 0xFC, 0x80, 0}), number, 1));
        oneSection = oneSection ? oneSection : s.bytes.size();
    }
    Bytes stream = tsb::concat({s.bytes, pcrPacket(0x101, 1000, 299), pcrPacket(0x102, 5, 0), pcrPacket(0x101, 0x1FFFFFFFF, 299), pcrPacket(0x102, 7, 0)});
    TS_ServiceWatch* watch = TS_ServiceWatch_Open();
    ASSERT_NE(watch, nullptr);
    ASSERT_EQ(TS_ServiceWatch_Feed(watch, stream.data(), stream.size()), 0);
    TS_ServiceWatch_End(watch);
    uint64_t clock = 0;
    EXPECT_EQ(TS_ServiceWatch_Clock(watch, &clock), 0);
    EXPECT_EQ(clock, 0x1FFFFFFFFull * 300 + 299);
    EXPECT_EQ(TS_ServiceWatch_Settled(watch, TS_WATCH_NAMES), 1);
    TS_ServiceWatch* early = TS_ServiceWatch_Open();
    ASSERT_EQ(TS_ServiceWatch_Feed(early, stream.data(), oneSection), 0);
    TS_ServiceWatch_End(early);
    EXPECT_EQ(TS_ServiceWatch_Settled(early, TS_WATCH_NAMES), 0);
    TS_ServiceWatch_Close(early);
    std::set<uint16_t> wanted;
    for (uint16_t pid = 0; pid < TS_PID_COUNT; ++pid) {
        if (TS_ServiceWatch_WantedPIDs(watch)[pid / 64] >> pid % 64 & 1) wanted.insert(pid);
    }
    EXPECT_EQ(wanted, (std::set<uint16_t>{0x0000, 0x0011, 0x0012, 0x001F, 0x0100, 0x1FFA, 0x1FFB}));
    TS_ServiceWatch_Close(watch);
}
