// ZKReporter: collects installation events from any thread and uploads them
// in signed batches to the analytics service from a thread of its own, so
// that no caller waits for the network. Fire-and-forget: a batch leaves the
// queue before its upload and is never retried or stored.
//
//   ZKReporter::getInstance()->report(L"start_download");
//   ZKReporter::getInstance()->report(L"user_cancel", report::stringProperty("cancel_reason",
//   L"normal")); ZKReporter::getInstance()->flush();
//
// The thread uploads everything queued when it wakes: on the third pending
// event, on flush(), every five minutes, and once more at stop().
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "app/tasks/worker_thread.h"
#include "platform/sync_event.h"
#include "report/event_record.h"

class ZKReporter {
 public:
  using Filler = report::PropertyFiller;

  // The process-wide reporter. It is never destroyed: a thread let go at
  // stop() may still use it until the process ends.
  static ZKReporter* getInstance();

  // A reporter of its own (tests). Destroying it stops its thread without a
  // time limit, abandoning an upload in progress.
  ZKReporter();
  ~ZKReporter();
  ZKReporter(const ZKReporter&) = delete;
  ZKReporter& operator=(const ZKReporter&) = delete;

  // Keeps the openid and machine identifier that every event carries and
  // starts the thread. Events reported before wait for it.
  void start(const std::wstring& openid, const std::wstring& pcid);

  // Queues an event stamped with the current time; wakes the thread when
  // three or more are pending. Any thread, also before start().
  void report(const std::wstring& key, Filler filler = {});

  // Queues several events at once: they are never split between uploads.
  struct Event {
    std::wstring key;
    Filler filler;
  };
  void reportTogether(std::vector<Event> events);

  // Wakes the thread so that everything queued so far goes out now.
  void flush();

  // Shutdown: the thread uploads what is still queued and ends. Waits for it
  // up to 5 s (the profile's "reporterStop"); a thread still busy then is let
  // go and its upload lost.
  void stop();

  // Events waiting for the next batch.
  std::uint32_t pendingCount();

 private:
  void enqueue(std::vector<Event> events);
  void _threadReport();
  bool stopRequested() const;
  std::string takeBatch(std::uint32_t& eventCount);
  void uploadBatch(const std::string& body, std::uint32_t eventCount);

  std::list<report::EventRecord> queue_;
  std::uint32_t count_ = 0;
  std::mutex lock_;  // guards the queue, its count, openid_ and pcid_
  platform::SyncEvent wake_{platform::SyncEvent::Reset::Auto};
  std::wstring openid_;
  std::wstring pcid_;
  std::atomic<bool> stopFlag_{false};
  std::atomic<bool> abandonUpload_{false};  // ends the transfer of a let-go thread
  WorkerThread thread_;                     // last: it goes first on destruction
};
