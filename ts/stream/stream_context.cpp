// The two stream contexts, the read block, and appending data to a context.
#include <cstring>

#include "rivulet/ts.h"
#include "ts/stream/packet_walk.h"

uint8_t g_lu8Buffer[TS_READ_BLOCK_SIZE];
TS_Data g_tData;
TS_SimpleData g_tSimpleData;

namespace {

template <class Context>
int32_t appendStream(Context* context, const uint8_t* bytes, uint64_t size) {
    if (!context || !bytes) return -1;
    if (context->u64Size - context->u64Pos + size > TS_STREAM_BUFFER_SIZE) return -2;
    uint64_t unconsumed = rivulet::keepUnconsumed(*context);
    std::memcpy(context->lu8Buffer + unconsumed, bytes, size);
    context->u64Size = unconsumed + size;
    return 0;
}

}  // namespace

int32_t TS_Initialise(TS_Data* data) {
    if (!data) return -1;
    std::memset(data, 0, sizeof *data);
    TS_PreSection_Initialise(&data->tCATPreSection);
    TS_PreSection_Initialise(&data->tPATPreSection);
    for (TS_PreSection& slot : data->ltPMTPreSection) TS_PreSection_Initialise(&slot);
    TS_PreSection_Initialise(&data->tECMPreSection);
    TS_PreSection_Initialise(&data->tEMMPreSection);
    return 0;
}

int32_t TS_InitialiseSimple(TS_SimpleData* data) {
    if (!data) return -1;
    std::memset(data, 0, sizeof *data);
    TS_PreSection_Initialise(&data->tPATPreSection);
    TS_PreSection_Initialise(&data->tPMTPreSection);
    TS_PreSection_Initialise(&data->tSectionPreSection);
    return 0;
}

int32_t TS_AddStream(TS_Data* data, const uint8_t* bytes, uint64_t size) {
    return appendStream(data, bytes, size);
}

int32_t TS_AddStreamSimple(TS_SimpleData* data, const uint8_t* bytes, uint64_t size) {
    return appendStream(data, bytes, size);
}
