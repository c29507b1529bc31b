#include "ts/output/writer_pool.h"

#include "ts/output/output_file.h"

namespace rivulet {
namespace {

class Locked {
public:
    explicit Locked(WriterPool& pool) : m_pool(pool) { pthread_mutex_lock(&m_pool.tLock); }
    ~Locked() { pthread_mutex_unlock(&m_pool.tLock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    WriterPool& m_pool;
};

// Under the lock: the file a writer takes next.
OutputFile* takeQueued(WriterPool& pool) {
    OutputFile* file = pool.pQueued;
    pool.pQueued = file->pNextQueued;
    if (!pool.pQueued) pool.pQueuedLast = nullptr;
    return file;
}

// Under the lock: `file`'s batch is written.
void markWritten(WriterPool& pool, OutputFile* file) {
    file->u8WithWriters = 0;
    file->pNextWritten = pool.pWritten;
    pool.pWritten = file;
    --pool.u32Busy;
    pthread_cond_broadcast(&pool.tDone);
}

void* writerMain(void* user) {
    WriterPool& pool = *static_cast<WriterPool*>(user);
    pthread_mutex_lock(&pool.tLock);
    for (;;) {
        while (!pool.pQueued && !pool.u8Stopping) {
            ++pool.u32Idle;
            pthread_cond_wait(&pool.tWork, &pool.tLock);
            --pool.u32Idle;
        }
        if (!pool.pQueued) break;
        OutputFile* file = takeQueued(pool);
        pthread_mutex_unlock(&pool.tLock);
        outputWriteHandedOver(file);
        pthread_mutex_lock(&pool.tLock);
        markWritten(pool, file);
    }
    pthread_mutex_unlock(&pool.tLock);
    return nullptr;
}

// Under the lock: a writer for the batch just queued, unless one is idle or
// the most have started. False when none runs at all.
bool haveWriter(WriterPool& pool) {
    if (pool.u32Idle == 0 && pool.u32Threads < pool.u32Wanted &&
        pthread_create(&pool.ltThread[pool.u32Threads], nullptr, writerMain, &pool) == 0) {
        ++pool.u32Threads;
    }
    return pool.u32Threads > 0;
}

// What the writers learned, taken into the files by the driver's thread.
void collect(WriterPool& pool) {
    OutputFile* written;
    {
        Locked locked(pool);
        written = pool.pWritten;
        pool.pWritten = nullptr;
    }
    while (written) {
        OutputFile* next = written->pNextWritten;
        outputCollect(written);
        written = next;
    }
}

}  // namespace

bool writerPoolInit(WriterPool* pool, uint32_t threads) {
    *pool = WriterPool{};
    pool->u32Wanted = threads == 0 ? 1 : threads > kMaxWriterThreads ? kMaxWriterThreads : threads;
    if (pthread_mutex_init(&pool->tLock, nullptr) != 0) return false;
    if (pthread_cond_init(&pool->tWork, nullptr) == 0) {
        if (pthread_cond_init(&pool->tDone, nullptr) == 0) return true;
        pthread_cond_destroy(&pool->tWork);
    }
    pthread_mutex_destroy(&pool->tLock);
    return false;
}

void writerPoolFree(WriterPool* pool) {
    writerPoolWaitAll(pool);
    {
        Locked locked(*pool);
        pool->u8Stopping = 1;
        pthread_cond_broadcast(&pool->tWork);
    }
    for (uint32_t i = 0; i < pool->u32Threads; ++i) pthread_join(pool->ltThread[i], nullptr);
    pthread_cond_destroy(&pool->tDone);
    pthread_cond_destroy(&pool->tWork);
    pthread_mutex_destroy(&pool->tLock);
}

void writerPoolSubmit(WriterPool* pool, OutputFile* file) {
    // One batch of a file with the writers at a time: its bytes stay in order.
    if (file->pWriting) writerPoolWaitFile(pool, file);
    file->pWriting = file->pFilling;
    file->pFilling = file->pWriting == &file->tBatch ? file->pSpare : &file->tBatch;
    bool queued;
    {
        Locked locked(*pool);
        file->u8WithWriters = 1;
        ++pool->u32Busy;
        queued = haveWriter(*pool);
        if (queued) {
            file->pNextQueued = nullptr;
            (pool->pQueuedLast ? pool->pQueuedLast->pNextQueued : pool->pQueued) = file;
            pool->pQueuedLast = file;
            pthread_cond_signal(&pool->tWork);
        }
    }
    if (queued) return;
    // No thread could be had: the driver's thread writes it.
    outputWriteHandedOver(file);
    Locked locked(*pool);
    markWritten(*pool, file);
}

void writerPoolWaitAll(WriterPool* pool) {
    {
        Locked locked(*pool);
        while (pool->u32Busy > 0) pthread_cond_wait(&pool->tDone, &pool->tLock);
    }
    collect(*pool);
}

void writerPoolWaitFile(WriterPool* pool, OutputFile* file) {
    {
        Locked locked(*pool);
        while (file->u8WithWriters) pthread_cond_wait(&pool->tDone, &pool->tLock);
    }
    collect(*pool);
}

}  // namespace rivulet
