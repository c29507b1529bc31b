// The two stream contexts, the read block, and appending data to a context.
#include <cstring>

#include "rivulet/file_split.h"

uint8_t g_lu8Buffer[TS_APPEND_BLOCK_SIZE];
TS_Data g_tData;
TS_SimpleData g_tSimpleData;

namespace {

template <class Context>
int32_t appendStream(Context* context, const uint8_t* bytes, uint64_t size) {
    if (!context || !bytes) return -1;
    if (context->u64Size - context->u64Pos + size > TS_STREAM_BUFFER_SIZE) return -2;
    uint64_t unconsumed = context->u64Size - context->u64Pos;
    std::memmove(context->lu8Buffer, context->lu8Buffer + context->u64Pos, unconsumed);
    context->u64Pos = 0;
    std::memcpy(context->lu8Buffer + unconsumed, bytes, size);
    context->u64Size = unconsumed + size;
    return 0;
}

}  // namespace

// Only the state that carries meaning is reset: positions, slot states and
// the records' valid flags (a record is read only once valid). The stream
// buffer and the records' bodies are never cleared, so that a context costs
// nothing before its first byte and touches only the memory it uses.
int32_t TS_Initialise(TS_Data* data) {
    if (!data) return -1;
    data->u64Size = 0;
    data->u64Pos = 0;
    TS_PreSection_Initialise(&data->tPATPreSection);
    data->tPAT.valid = 0;
    TS_PreSection_Initialise(&data->tCATPreSection);
    data->tCAT.valid = 0;
    for (uint32_t i = 0; i < TS_MAX_PMT_RECORDS; ++i) {
        TS_PreSection_Initialise(&data->ltPMTPreSection[i]);
        data->ltPMT[i].valid = 0;
    }
    TS_PreSection_Initialise(&data->tECMPreSection);
    data->tECM.valid = 0;
    TS_PreSection_Initialise(&data->tEMMPreSection);
    data->tEMM.valid = 0;
    data->u16PIDCount = 0;
    std::memset(data->lu64PIDSeen, 0, sizeof data->lu64PIDSeen);
    return 0;
}

int32_t TS_InitialiseSimple(TS_SimpleData* data) {
    if (!data) return -1;
    data->u64Size = 0;
    data->u64Pos = 0;
    TS_PreSection_Initialise(&data->tPATPreSection);
    data->tPAT.valid = 0;
    TS_PreSection_Initialise(&data->tPMTPreSection);
    data->tPMT.valid = 0;
    TS_PreSection_Initialise(&data->tSectionPreSection);
    data->tSection.valid = 0;
    return 0;
}

int32_t TS_AddStream(TS_Data* data, const uint8_t* bytes, uint64_t size) {
    return appendStream(data, bytes, size);
}

int32_t TS_AddStreamSimple(TS_SimpleData* data, const uint8_t* bytes, uint64_t size) {
    return appendStream(data, bytes, size);
}
