// Rivulet toolkit: the stream contexts, for callers that walk a stream
// themselves: bytes appended with TS_AddStream are handed out as packets,
// and the context gathers the PAT, the CAT, each program's PMT and PCR, ECMs
// and EMMs. The drivers walk their inputs with contexts of their own.
#ifndef RIVULET_STREAM_WALK_H
#define RIVULET_STREAM_WALK_H

#include "rivulet/tables.h"

struct TS_Data {
    uint64_t u64Size;
    uint64_t u64Pos;
    TS_PreSection tPATPreSection;
    TS_PAT tPAT;
    TS_PreSection tCATPreSection;
    TS_CAT tCAT;
    TS_PreSection ltPMTPreSection[TS_MAX_PMT_RECORDS];  // by position in tPAT.programs
    TS_PMT ltPMT[TS_MAX_PMT_RECORDS];
    TS_PCR ltPCR[TS_MAX_PMT_RECORDS];
    TS_PreSection tECMPreSection;
    TS_Section_Private tECM;
    TS_PreSection tEMMPreSection;
    TS_Section_Private tEMM;
    uint8_t lu8Buffer[TS_STREAM_BUFFER_SIZE];
    uint16_t u16PIDCount;
    uint16_t lu16PID[TS_PID_COUNT];         // in order of first appearance
    uint64_t lu64PIDSeen[TS_PID_COUNT / 64];  // one bit per PID listed
};

struct TS_SimpleData {
    uint64_t u64Size;
    uint64_t u64Pos;
    TS_PreSection tPATPreSection;
    TS_PAT tPAT;
    TS_PreSection tPMTPreSection;
    TS_PMT tPMT;
    TS_PreSection tSectionPreSection;
    TS_Section_Private tSection;
    uint8_t lu8Buffer[TS_STREAM_BUFFER_SIZE];
};

// Empty a context: no bytes, no table valid, no PID seen.
int32_t TS_Initialise(TS_Data* data);
int32_t TS_InitialiseSimple(TS_SimpleData* data);
// Append `size` bytes to the context's stream buffer, dropping consumed bytes.
// -2 when the unconsumed bytes and the new ones exceed the buffer.
int32_t TS_AddStream(TS_Data* data, const uint8_t* bytes, uint64_t size);
int32_t TS_AddStreamSimple(TS_SimpleData* data, const uint8_t* bytes, uint64_t size);

#endif  // RIVULET_STREAM_WALK_H
