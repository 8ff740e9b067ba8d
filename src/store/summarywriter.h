#pragma once

#include "store/storedsummary.h"

#include <QList>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

class TNewsStore;

// Stores batches of one group's summaries on a thread of its own, each batch in a transaction
// of its own and in the order given, so that storing a long listing runs beside the reading of
// its rest instead of after it. While the writer exists the store is its alone: the caller
// touches the store again only after Finish or the writer's end.
class TSummaryWriter {
public:
    TSummaryWriter(TNewsStore& store, qint64 group);
    // Stores what was given before returning; a failure found then is dropped (Finish says it).
    ~TSummaryWriter();
    TSummaryWriter(const TSummaryWriter&) = delete;
    TSummaryWriter& operator=(const TSummaryWriter&) = delete;

    // Queues a batch; returns at once. After a failure of the store, batches are not stored.
    void Add(QList<TStoredSummary> batch);
    // Waits until every batch given is stored and answers how many summaries were. Raises the
    // store's failure (an EStoreError naming the file): the batches before the failing one are
    // committed, that one and those after it are not.
    qint64 Finish();

private:
    void StoreQueued();
    void Stop();

    TNewsStore& store_;
    const qint64 group_;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<QList<TStoredSummary>> queue_;
    bool closing_ = false;
    qint64 stored_ = 0;
    std::exception_ptr failure_;
    std::thread thread_;
};
