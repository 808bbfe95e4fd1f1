// What part of a body of known size a "Range" header asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace standin {

struct RangeAnswer {
  enum class Kind { Whole, Partial, Unsatisfiable };
  Kind kind = Kind::Whole;
  std::uint64_t start = 0;
  std::uint64_t length = 0;  // bytes to send; the whole size for Whole
};

// Only a single "bytes=" range is honoured: an absent, malformed or
// multi-range header yields the whole body (a server may ignore Range). The
// end is clamped to the size; a range starting at or past the end, or an
// empty suffix range, is unsatisfiable (416).
RangeAnswer answerRange(std::optional<std::string_view> header, std::uint64_t size);

}  // namespace standin
