#include "ts/split/stream_shapes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>

namespace rivulet {

const GatheredShape* findShape(const TS_StreamShapes& shapes, uint16_t program, uint16_t duplicate, uint64_t opened) {
    for (uint32_t i = 0; i < shapes.list.u32Size; ++i) {
        const GatheredShape& shape = shapes.list[i];
        if (shape.u16Program == program && shape.u16Duplicate == duplicate && shape.u64Opened == opened) return &shape;
    }
    return nullptr;
}

// The split of the first pass: every program, nothing written or said (the
// split proper says what there is to say).
TS_SplitOptions firstPassOptions(const TS_SplitOptions& options, TS_StreamShapes* shapes) {
    TS_SplitOptions first = options;
    first.lu16Programs = nullptr;
    first.u32ProgramCount = 0;
    first.u8Stable = TS_STABLE_SHAPE;
    first.pStreamShapes = shapes;
    first.pfLog = [](void*, int32_t, const char*) {};
    first.pfProgress = nullptr;
    first.pFileCount = nullptr;
    first.pRun = nullptr;
    first.pfObserver = nullptr;
    first.pObservedPIDs = nullptr;
    return first;
}

bool keepShape(TS_StreamShapes& shapes, const GatheredShape& shape) {
    if (!growTo(shapes.list, shapes.list.u32Size + 1)) return false;
    shapes.list[shapes.list.u32Size - 1] = shape;
    return true;
}

}  // namespace rivulet

namespace {

// A file the split reads from its start to its end, and can read again: a
// regular file the split does not take as standard input. -1 otherwise.
// Anything else is never opened: a FIFO's writer would lose to the look
// what it wrote (and the open would wait for one).
int openForTwoReadings(const char* path) {
    if (std::strcmp(TS_InputName(path), path) != 0) return -1;  // "-", /dev/stdin
    struct stat st;
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // never waits, should the path change meanwhile
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

}  // namespace

TS_StreamShapes* TS_StreamShapes_Gather(const char* path, const TS_SplitOptions* options, int32_t* status) {
    int32_t ignored = 0;
    int32_t& result = status ? *status : ignored;
    result = -1;
    if (!path || !options) return nullptr;
    result = 0;
    const int fd = openForTwoReadings(path);
    if (fd < 0) return nullptr;
    result = TS_ERR_NO_MEMORY;
    TS_StreamShapes* shapes = new (std::nothrow) TS_StreamShapes();
    if (shapes) shapes->u8Gathering = 1;  // before the split opens: it chooses its null sink by it
    const TS_SplitOptions first = rivulet::firstPassOptions(*options, shapes);
    TS_Splitter* splitter = shapes ? TS_Splitter_OpenWithStatus(path, &first, &result) : nullptr;
    if (splitter) {
        TS_Splitter_FeedFrom(splitter, fd);
        result = TS_Splitter_Close(splitter);
    }
    if (shapes) shapes->u8Gathering = 0;
    ::close(fd);
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
