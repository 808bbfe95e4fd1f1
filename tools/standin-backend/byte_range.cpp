#include "byte_range.h"

#include <charconv>

namespace standin {
namespace {

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Empty text gives nothing; so does anything that is not all digits.
std::optional<std::uint64_t> parseBytePosition(std::string_view text) {
  text = trim(text);
  std::uint64_t value = 0;
  if (text.empty()) return std::nullopt;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

RangeAnswer whole(std::uint64_t size) { return {RangeAnswer::Kind::Whole, 0, size}; }

}  // namespace

RangeAnswer answerRange(std::optional<std::string_view> header, std::uint64_t size) {
  if (!header) return whole(size);
  std::string_view spec = trim(*header);
  constexpr std::string_view kUnit = "bytes=";
  if (spec.substr(0, kUnit.size()) != kUnit) return whole(size);
  spec.remove_prefix(kUnit.size());
  if (spec.find(',') != std::string_view::npos) return whole(size);

  const std::size_t dash = spec.find('-');
  if (dash == std::string_view::npos) return whole(size);
  const std::string_view firstText = trim(spec.substr(0, dash));
  const std::string_view lastText = trim(spec.substr(dash + 1));
  const auto first = parseBytePosition(firstText);
  const auto last = parseBytePosition(lastText);
  if ((!firstText.empty() && !first) || (!lastText.empty() && !last)) return whole(size);

  const RangeAnswer unsatisfiable{RangeAnswer::Kind::Unsatisfiable, 0, 0};
  if (!first) {  // suffix range: the last N bytes
    if (!last) return whole(size);
    if (*last == 0 || size == 0) return unsatisfiable;
    const std::uint64_t length = std::min(*last, size);
    return {RangeAnswer::Kind::Partial, size - length, length};
  }
  if (last && *last < *first) return whole(size);  // syntactically invalid: ignored
  if (*first >= size) return unsatisfiable;
  const std::uint64_t end = last ? std::min(*last, size - 1) : size - 1;
  return {RangeAnswer::Kind::Partial, *first, end - *first + 1};
}

}  // namespace standin
