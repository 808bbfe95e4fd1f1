#include "app/tasks/task_owner.h"

#include <atomic>

#include "app/tasks/ui_dispatcher.h"

OwnerKey newOwnerKey() {
  static std::atomic<OwnerKey> last{kDefaultOwnerKey};
  return ++last;
}

TaskOwner::~TaskOwner() { cancel(); }

void TaskOwner::cancel() const { UiDispatcher::cancel(key_); }
