#include "ts/split/stream_shapes.h"

#include <fcntl.h>
#include <unistd.h>

#include <new>

namespace rivulet {

const GatheredShape* findShape(const TS_StreamShapes& shapes, uint16_t program, uint16_t duplicate, uint64_t opened) {
    for (uint32_t i = 0; i < shapes.list.u32Size; ++i) {
        const GatheredShape& shape = shapes.list[i];
        if (shape.u16Program == program && shape.u16Duplicate == duplicate && shape.u64Opened == opened) return &shape;
    }
    return nullptr;
}

bool keepShape(TS_StreamShapes& shapes, const GatheredShape& shape) {
    if (!growTo(shapes.list, shapes.list.u32Size + 1)) return false;
    shapes.list[shapes.list.u32Size - 1] = shape;
    return true;
}

}  // namespace rivulet

TS_StreamShapes* TS_StreamShapes_Gather(const char* path, const TS_SplitOptions* options, int32_t* status) {
    int32_t ignored = 0;
    int32_t& result = status ? *status : ignored;
    result = -1;
    if (!path || !options) return nullptr;
    result = TS_ERR_NO_MEMORY;
    TS_StreamShapes* shapes = new (std::nothrow) TS_StreamShapes();
    if (!shapes) return nullptr;
    // Every program, nothing said: the split proper says what there is to say.
    TS_SplitOptions first = *options;
    first.lu16Programs = nullptr;
    first.u32ProgramCount = 0;
    first.u8Stable = 1;
    first.pStreamShapes = shapes;
    first.pfLog = [](void*, int32_t, const char*) {};
    first.pfProgress = nullptr;
    first.pFileCount = nullptr;
    first.pRun = nullptr;
    shapes->u8Gathering = 1;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    TS_Splitter* splitter = fd < 0 ? nullptr : TS_Splitter_OpenWithStatus(path, &first, &result);
    if (splitter) {
        TS_Splitter_FeedFrom(splitter, fd);
        result = TS_Splitter_Close(splitter);
    }
    if (fd >= 0) ::close(fd);
    shapes->u8Gathering = 0;
    if (fd < 0) result = TS_ERR_OPEN_INPUT;
    if (result != 0) {
        TS_StreamShapes_Free(shapes);
        return nullptr;
    }
    return shapes;
}

void TS_StreamShapes_Free(TS_StreamShapes* shapes) {
    if (!shapes) return;
    rivulet::release(shapes->list);
    delete shapes;
}
