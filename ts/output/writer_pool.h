// Writer threads of one driver: the files' queued runs are written on other
// cores while the walk goes on with the next block.
//
// A file hands a batch of runs to the pool and fills its other batch
// meanwhile; each file has at most one batch with the writers, so that its
// bytes reach it in order, whole packets each time a write returns. What a
// writer learns (bytes written, a failure) is taken back into the file by
// the driver's own thread when it waits (writerPoolCollect), so that the
// file's record, its messages and its status stay the driver's alone: a
// failure is told, and fails the file's next write, at the next wait.
#ifndef RIVULET_WRITER_POOL_H
#define RIVULET_WRITER_POOL_H

#include <pthread.h>

#include <cstdint>

#include "rivulet/split.h"

namespace rivulet {

struct OutputFile;

// Threads one driver may run; more cores than this write no faster.
constexpr uint32_t kMaxWriterThreads = TS_MAX_WRITER_THREADS;

struct WriterPool {
    pthread_mutex_t tLock;
    pthread_cond_t tWork;      // a batch is queued, or the pool stops
    pthread_cond_t tDone;      // a batch is written
    pthread_t ltThread[kMaxWriterThreads];
    uint32_t u32Threads;       // started
    uint32_t u32Wanted;        // the most to start
    uint32_t u32Idle;          // started and waiting for work
    uint32_t u32Busy;          // batches queued or being written
    OutputFile* pQueued;       // first of the queued files (OutputFile::pNextQueued)
    OutputFile* pQueuedLast;
    OutputFile* pWritten;      // files whose batch is written, not yet collected
    uint8_t u8Stopping;
};

// A pool of up to `threads` writers (at least 1), started as batches come;
// false when the system refuses its lock.
bool writerPoolInit(WriterPool* pool, uint32_t threads);
// Waits for every batch, then stops and joins the writers.
void writerPoolFree(WriterPool* pool);

// Hands `file`'s filling batch to the writers (after its batch before, if
// still being written, is written and collected); the file fills its other
// batch meanwhile. The caller is the driver's thread.
void writerPoolSubmit(WriterPool* pool, OutputFile* file);
// Waits until every batch handed over is written, then collects.
void writerPoolWaitAll(WriterPool* pool);
// Waits until `file` has no batch with the writers, then collects.
void writerPoolWaitFile(WriterPool* pool, OutputFile* file);

}  // namespace rivulet

#endif
