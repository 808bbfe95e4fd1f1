// Owner keys: every task posted to the UI thread carries the key of the
// object it belongs to, so that the object can cancel its tasks before it is
// destroyed (UiDispatcher::cancel). Keys come from a process-wide counter and
// are never reused, so a new object can never inherit the cancelled state of
// an old one that lived at the same address.
#pragma once

#include <cstdint>

using OwnerKey = std::uintptr_t;

// The default owner: never cancelled; for tasks that may outlive any
// particular object.
constexpr OwnerKey kDefaultOwnerKey = 1;

// A fresh key (2, 3, ...). Any thread.
OwnerKey newOwnerKey();

// A member that gives its object a key; destroying it cancels the key, so
// tasks still queued for a destroyed object never run.
class TaskOwner {
 public:
  TaskOwner() : key_(newOwnerKey()) {}
  ~TaskOwner();
  TaskOwner(const TaskOwner&) = delete;
  TaskOwner& operator=(const TaskOwner&) = delete;

  OwnerKey key() const { return key_; }
  void cancel() const;  // UiDispatcher::cancel(key())

 private:
  const OwnerKey key_;
};
