#include "store/summarywriter.h"

#include "store/newsstore.h"

TSummaryWriter::TSummaryWriter(TNewsStore& store, qint64 group)
    : store_(store), group_(group), thread_([this] { StoreQueued(); }) {}

TSummaryWriter::~TSummaryWriter() {
    Stop();
}

void TSummaryWriter::Add(QList<TStoredSummary> batch) {
    {
        const std::lock_guard lock(mutex_);
        if (failure_) {
            return;
        }
        queue_.push_back(std::move(batch));
    }
    queued_.notify_one();
}

qint64 TSummaryWriter::Finish() {
    Stop();
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    return stored_;
}

void TSummaryWriter::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    queued_.notify_one();
    thread_.join();
}

void TSummaryWriter::StoreQueued() {
    for (;;) {
        QList<TStoredSummary> batch;
        {
            std::unique_lock lock(mutex_);
            queued_.wait(lock, [this] { return closing_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            batch = std::move(queue_.front());
            queue_.pop_front();
        }
        try {
            store_.AddSummaries(group_, batch);
        } catch (...) {
            const std::lock_guard lock(mutex_);
            failure_ = std::current_exception();
            queue_.clear();
            return;
        }
        stored_ += batch.size();
    }
}
