// One pending telemetry event: its key, the moment it was reported and the
// callable that adds its own members to the event's properties object.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <functional>
#include <string>

namespace report {

// Adds event-specific members to `properties` with the batch document's
// allocator. Runs on the reporter thread while the queue is locked: it must
// only add members, never report events.
using PropertyFiller = std::function<void(rapidjson::Value& properties,
                                          rapidjson::Document::AllocatorType& allocator)>;

struct EventRecord {
  std::wstring key;
  std::int64_t time = 0;  // ms since 1970-01-01 UTC, whole seconds x 1000
  PropertyFiller filler;  // may be empty
};

}  // namespace report
