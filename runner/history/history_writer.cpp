#include "runner/history/history_writer.h"

#include <algorithm>
#include <vector>

#include <sqlite3.h>

namespace runner {
namespace {

using Clock = std::chrono::steady_clock;

// Jobs committed in one transaction: a backlog drains in few commits.
constexpr std::size_t kBatch = 256;

}  // namespace

HistoryWriter::HistoryWriter(std::unique_ptr<HistoryStore> store, HistoryWriterOptions options)
    : options_(options), store_(std::move(store)), path_(store_->path()) {
  store_->SetBusyTimeout(static_cast<int>(options_.busy_wait.count()));
  thread_ = std::thread([this] { Loop(); });
}

HistoryWriter::~HistoryWriter() { Stop(); }

bool HistoryWriter::Add(HistoryJob job) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || queue_.size() >= options_.capacity) {
      ++state_.lost;
      return false;
    }
    queue_.push_back(std::move(job));
    // The writer sleeps only on an empty queue or until a set time; it
    // needs waking for the first job, and for a full batch while it gathers.
    wake = queue_.size() == 1 || queue_.size() == kBatch;
  }
  if (wake) wake_.notify_one();
  return true;
}

StoreState HistoryWriter::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  StoreState state = state_;
  state.pending = queue_.size();
  return state;
}

bool HistoryWriter::WaitIdle(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return idle_.wait_for(lock, limit, [&] { return queue_.empty() && !writing_; });
}

void HistoryWriter::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
    stopping_ = true;
    flush_until_ = Clock::now() + options_.final_flush;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  state_.lost += queue_.size();
  queue_.clear();
  idle_.notify_all();
}

void HistoryWriter::Loop() {
  std::chrono::milliseconds retry = options_.retry_first;
  Clock::time_point retry_at{};
  Clock::time_point gather_until{};
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (queue_.empty()) {
      idle_.notify_all();
      if (stopping_) return;
      wake_.wait(lock);
      continue;
    }
    const Clock::time_point now = Clock::now();
    if (stopping_ && now >= flush_until_) return;
    if (now < retry_at) {
      wake_.wait_until(lock, stopping_ ? std::min(retry_at, flush_until_) : retry_at);
      continue;
    }
    // Rows held back by a failure are late already: they go at the retry.
    const bool failing = retry_at != Clock::time_point{};
    if (!stopping_ && !failing && queue_.size() < kBatch && options_.gather.count() > 0) {
      if (gather_until == Clock::time_point{}) gather_until = now + options_.gather;
      if (now < gather_until) {
        wake_.wait_until(lock, gather_until);
        continue;
      }
    }
    gather_until = {};
    const std::size_t count = std::min(queue_.size(), kBatch);
    std::vector<HistoryJob> batch(queue_.begin(), queue_.begin() + static_cast<long>(count));
    writing_ = true;
    lock.unlock();
    std::string error, note;
    const bool ok = WriteBatch(batch, error, note);
    lock.lock();
    writing_ = false;
    if (ok) {
      // Rows are refused at the back, never dropped from the front, so the
      // batch is still the queue's head.
      queue_.erase(queue_.begin(), queue_.begin() + static_cast<long>(count));
      for (const HistoryJob& j : batch) {
        state_.stored += j.kind == HistoryJob::Kind::kRow ? 1 : 0;
        state_.alarms_stored += j.kind == HistoryJob::Kind::kAlarm ? 1 : 0;
      }
      state_.failing = false;
      if (!note.empty()) state_.last_error = note;
      retry = options_.retry_first;
      retry_at = {};
    } else {
      state_.failing = true;
      state_.last_error = error;
      retry_at = Clock::now() + retry;
      retry = std::min(retry * 2, options_.retry_most);
    }
  }
}

bool HistoryWriter::WriteBatch(const std::vector<HistoryJob>& batch, std::string& error,
                               std::string& note) {
  try {
    if (store_ && !store_->PathStillNamesFile()) {
      // The file was deleted or replaced under us: rows written to the old
      // one would vanish with it, so they go to a new database at the path.
      note = path_ +
             ": the history database was deleted or replaced while open;"
             " rows go to a new database there";
      std::lock_guard<std::mutex> lock(store_mutex_);
      store_.reset();
    }
    if (!store_) {
      std::unique_ptr<HistoryStore> fresh = HistoryStore::Open(path_);
      fresh->SetBusyTimeout(static_cast<int>(options_.busy_wait.count()));
      std::lock_guard<std::mutex> lock(store_mutex_);
      store_ = std::move(fresh);
      devices_owed_ = true;
    }
  } catch (const HistoryError& e) {
    error = e.what();
    return false;
  }
  try {
    store_->Begin();
    if (devices_owed_)
      for (const auto& [id, info] : devices_) store_->PutDevice(info);
    for (const HistoryJob& job : batch) {
      switch (job.kind) {
        case HistoryJob::Kind::kRow:
          store_->AddRow(job.at, job.reason, job.round->record, job.round->raw);
          break;
        case HistoryJob::Kind::kAlarm:
          store_->AddAlarm(job.at, job.data_id, job.device, job.change);
          break;
        case HistoryJob::Kind::kDevice: store_->PutDevice(job.info); break;
        case HistoryJob::Kind::kOutbox: store_->AddOutbox(job.message); break;
        case HistoryJob::Kind::kAcknowledged:
        case HistoryJob::Kind::kTooOld:
          store_->Acknowledge(job.message.data_id, job.message.seq,
                              job.kind == HistoryJob::Kind::kAcknowledged);
          break;
      }
    }
    store_->Commit();
    devices_owed_ = false;
    for (const HistoryJob& job : batch)
      if (job.kind == HistoryJob::Kind::kDevice) devices_[job.info.data_id] = job.info;
    return true;
  } catch (const HistoryError& e) {
    store_->Rollback();
    error = path_ + ": " + e.what();
    // A full disk: the log gives its space back once folded, so that space
    // freed by anyone is enough for the next try.
    if (e.code() == SQLITE_FULL) store_->FoldLog();
    return false;
  }
}

HistoryStore* HistoryWriter::store() {
  std::lock_guard<std::mutex> lock(store_mutex_);
  return store_.get();
}

}  // namespace runner
