#pragma once
// Writes history rows and alarms off the poll loop. The loop hands each row
// to Add(), which never waits on the disk: rows go into a bounded queue
// that one writer thread commits in batches. While the database is locked
// by another program, the disk is full or the file is gone, rows stay
// queued and are tried again; a row that finds the queue full is refused
// and counted lost (the rows already waiting are older and keep their
// places). Stop() gives the queue a bounded time to drain; rows still
// unwritten then are counted lost.
//
// The state (rows pending, stored, lost, the last error) is read by the
// loop for the view, the JSON lines and the summary at exit.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runner/history/history_store.h"
#include "runner/round/round_result.h"

namespace runner {

struct StoreState {
  std::size_t pending = 0;          // rows and alarms waiting to be committed
  std::uint64_t stored = 0;         // history rows (records) committed since the host started
  std::uint64_t alarms_stored = 0;  // alarm events committed since then
  std::uint64_t lost = 0;           // refused by a full queue or unwritten at stop
  bool failing = false;             // the last attempt to write failed
  std::string last_error;           // the newest failure, kept after recovery
};

// One thing to write: a history row, an alarm, or a device's description.
struct HistoryJob {
  enum class Kind { kRow, kAlarm, kDevice, kOutbox, kAcknowledged, kTooOld };
  Kind kind = Kind::kRow;
  HostInstant at;
  unsigned data_id = 0;
  std::string reason;                        // kRow
  std::shared_ptr<const RoundResult> round;  // kRow
  std::string device;                        // kAlarm
  AlarmChange change;                        // kAlarm
  DeviceInfo info;                           // kDevice
  OutboxMessage message;                     // kOutbox; its data id and seq for the other two
};

struct HistoryWriterOptions {
  std::size_t capacity = 20000;                 // rows the queue holds
  std::chrono::milliseconds busy_wait{100};     // one attempt's wait for a lock
  std::chrono::milliseconds retry_first{100};   // after a failure, doubling
  std::chrono::milliseconds retry_most{2000};   // up to this
  std::chrono::milliseconds final_flush{2500};  // Stop() waits at most this
  // After a job reaches an idle queue, how long the writer waits for more
  // before committing: a site of hundreds of devices queues a row or an
  // outbox message every few milliseconds, and one commit of many costs the
  // log far fewer pages (and the disk far fewer syncs) than one each.
  std::chrono::milliseconds gather{200};
};

class HistoryWriter {
 public:
  HistoryWriter(std::unique_ptr<HistoryStore> store, HistoryWriterOptions options = {});
  ~HistoryWriter();
  HistoryWriter(const HistoryWriter&) = delete;
  HistoryWriter& operator=(const HistoryWriter&) = delete;

  // Queues a job; false (and counted lost) when the queue is full or the
  // writer has stopped.
  bool Add(HistoryJob job);
  StoreState State() const;
  // Waits until every job queued so far is committed or `limit` passed.
  bool WaitIdle(std::chrono::milliseconds limit);
  // Drains within the final-flush time, counts the rest lost, ends the
  // thread. Idempotent.
  void Stop();

  // The database, for reading while the writer is idle (at start, after
  // WaitIdle); null while a replaced file could not be opened again.
  HistoryStore* store();

 private:
  void Loop();
  // Commits `batch` in one transaction; on failure `error` says why.
  // `note` tells of a database file opened anew.
  bool WriteBatch(const std::vector<HistoryJob>& batch, std::string& error, std::string& note);

  HistoryWriterOptions options_;
  std::mutex store_mutex_;  // guards the pointer while the writer replaces it
  std::unique_ptr<HistoryStore> store_;
  std::string path_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<HistoryJob> queue_;
  bool writing_ = false;  // the front batch is being committed
  bool stopping_ = false;
  bool stopped_ = false;
  std::chrono::steady_clock::time_point flush_until_{};
  StoreState state_;
  // Every device's description written so far, by data id: a database made
  // anew under the host (the old one deleted) gets them all again, or its
  // history would number the cells wrongly.
  std::map<unsigned, DeviceInfo> devices_;  // the writer thread's own
  bool devices_owed_ = false;               // the store was opened anew since
  std::thread thread_;
};

}  // namespace runner
