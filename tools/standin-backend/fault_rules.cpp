#include "fault_rules.h"

#include <algorithm>
#include <charconv>

namespace standin {
namespace {

std::vector<std::string_view> splitFaultTokens(std::string_view text) {
  std::vector<std::string_view> tokens;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ',' || text[i] == ':') {
      tokens.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  return tokens;
}

template <typename Number>
bool parseNumber(std::string_view text, Number& value) {
  if (text.empty()) return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool startsWith(std::string_view text, std::string_view head) {
  return text.substr(0, head.size()) == head;
}

// Reads one fault token (and, for stall-at, the token after it) into `faults`.
bool parseFaultToken(const std::vector<std::string_view>& tokens, std::size_t& index,
                     FaultRule& rule, std::string& error) {
  const std::string_view token = tokens[index];
  Faults& faults = rule.faults;
  auto value = [&](std::string_view name) { return token.substr(name.size()); };
  auto bad = [&](std::string_view what) {
    error = "bad fault \"" + std::string(token) + "\": " + std::string(what);
    return false;
  };

  if (token == "once") {
    rule.once = true;
  } else if (token == "ignore-range") {
    faults.ignoreRange = true;
  } else if (token == "chunked") {
    faults.chunked = true;
  } else if (startsWith(token, "cut=")) {
    std::uint64_t n = 0;
    if (!parseNumber(value("cut="), n)) return bad("expected cut=BYTES");
    faults.cutAfter = n;
  } else if (startsWith(token, "status=")) {
    int code = 0;
    if (!parseNumber(value("status="), code) || code < 400 || code > 599)
      return bad("expected status=400..599");
    faults.status = code;
  } else if (startsWith(token, "stall-before=")) {
    std::uint32_t ms = 0;
    if (!parseNumber(value("stall-before="), ms)) return bad("expected stall-before=MS");
    faults.stallBeforeMs = ms;
  } else if (startsWith(token, "stall-at=")) {
    std::uint64_t at = 0;
    std::uint32_t ms = 0;
    if (!parseNumber(value("stall-at="), at) || index + 1 >= tokens.size() ||
        !parseNumber(tokens[index + 1], ms))
      return bad("expected stall-at=BYTES:MS");
    ++index;
    faults.stallsAt.emplace_back(at, ms);
  } else if (startsWith(token, "throttle=")) {
    std::uint64_t rate = 0;
    if (!parseNumber(value("throttle="), rate) || rate == 0)
      return bad("expected throttle=BYTES_PER_SECOND above 0");
    faults.throttleBytesPerSecond = rate;
  } else {
    return bad("unknown fault");
  }
  return true;
}

}  // namespace

void Faults::add(const Faults& other) {
  if (other.cutAfter && (!cutAfter || *other.cutAfter < *cutAfter)) cutAfter = other.cutAfter;
  ignoreRange = ignoreRange || other.ignoreRange;
  if (other.status) status = other.status;
  stallBeforeMs = std::max(stallBeforeMs, other.stallBeforeMs);
  stallsAt.insert(stallsAt.end(), other.stallsAt.begin(), other.stallsAt.end());
  std::sort(stallsAt.begin(), stallsAt.end());
  if (other.throttleBytesPerSecond &&
      (!throttleBytesPerSecond || *other.throttleBytesPerSecond < *throttleBytesPerSecond))
    throttleBytesPerSecond = other.throttleBytesPerSecond;
  chunked = chunked || other.chunked;
}

bool Faults::empty() const {
  return !cutAfter && !ignoreRange && !status && stallBeforeMs == 0 && stallsAt.empty() &&
         !throttleBytesPerSecond && !chunked;
}

bool FaultRule::matches(std::string_view path) const {
  return prefix ? startsWith(path, pattern) : path == pattern;
}

std::optional<FaultRule> parseFaultRule(std::string_view spec, std::string& error) {
  const std::size_t colon = spec.find(':');
  if (colon == std::string_view::npos || colon == 0) {
    error = "a fault is PATH:FAULT[,FAULT...], got \"" + std::string(spec) + "\"";
    return std::nullopt;
  }
  FaultRule rule;
  std::string_view path = spec.substr(0, colon);
  if (path.back() == '*') {
    rule.prefix = true;
    path.remove_suffix(1);
  }
  if (!path.empty() && path.front() != '/') {
    error = "a fault's path starts with \"/\", got \"" + std::string(spec) + "\"";
    return std::nullopt;
  }
  if (path.empty() && !rule.prefix) {
    error = "a fault needs a path";
    return std::nullopt;
  }
  rule.pattern = std::string(path);

  const auto tokens = splitFaultTokens(spec.substr(colon + 1));
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (!parseFaultToken(tokens, i, rule, error)) return std::nullopt;
  }
  std::sort(rule.faults.stallsAt.begin(), rule.faults.stallsAt.end());
  if (rule.faults.empty()) {
    error = "no fault given in \"" + std::string(spec) + "\"";
    return std::nullopt;
  }
  return rule;
}

void FaultTable::add(FaultRule rule) {
  std::lock_guard lock(mutex_);
  rules_.push_back(std::move(rule));
}

void FaultTable::clear() {
  std::lock_guard lock(mutex_);
  rules_.clear();
}

Faults FaultTable::take(std::string_view path) {
  std::lock_guard lock(mutex_);
  Faults result;
  bool usedOnce = false;
  for (auto it = rules_.begin(); it != rules_.end();) {
    if (!it->matches(path) || (it->once && usedOnce)) {
      ++it;
      continue;
    }
    result.add(it->faults);
    if (it->once) {
      usedOnce = true;
      it = rules_.erase(it);
    } else {
      ++it;
    }
  }
  return result;
}

}  // namespace standin
