// Fault injection per request path.
//
// A rule is written PATH:FAULT[,FAULT...] (":" may separate the faults too),
// where PATH is an exact path or a prefix ending with "*", and FAULT is
//   cut=N            close the connection after N body bytes
//   ignore-range     answer 200 with the whole body to a ranged request
//   status=CODE      answer CODE (400..599) with a small HTML error page
//   stall-before=MS  wait MS milliseconds before answering
//   stall-at=N:MS    wait MS milliseconds after N body bytes
//   chunked          no Content-Length, chunked transfer
//   throttle=BPS     send at most BPS body bytes per second
//   once             the rule serves the next matching request only
// Every lasting rule that matches a request applies; of the matching "once"
// rules, the oldest applies and is used up, so that a test can queue a
// sequence of faults for consecutive requests.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace standin {

struct Faults {
  std::optional<std::uint64_t> cutAfter;
  bool ignoreRange = false;
  std::optional<int> status;
  std::uint32_t stallBeforeMs = 0;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> stallsAt;  // (byte, ms), sorted by byte
  std::optional<std::uint64_t> throttleBytesPerSecond;
  bool chunked = false;

  // Combines another set into this one (the stricter value wins).
  void add(const Faults& other);
  bool empty() const;
};

struct FaultRule {
  std::string pattern;  // without the trailing "*" of a prefix
  bool prefix = false;
  bool once = false;
  Faults faults;

  bool matches(std::string_view path) const;
};

// Parses one rule; on failure returns nothing and sets `error`.
std::optional<FaultRule> parseFaultRule(std::string_view spec, std::string& error);

// The rules in force; shared by all worker threads.
class FaultTable {
 public:
  void add(FaultRule rule);
  void clear();
  // The faults for one request to `path`, using up a matching "once" rule.
  Faults take(std::string_view path);

 private:
  std::mutex mutex_;
  std::vector<FaultRule> rules_;
};

}  // namespace standin
