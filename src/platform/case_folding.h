// Comparing names without regard to case, as Windows compares registry key
// and value names and process image names: every character is upper-cased
// by the Unicode tables (not only A to Z), independent of the locale.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::wstring upperCased(std::wstring_view text);
bool equalsIgnoringCase(std::wstring_view a, std::wstring_view b);

}  // namespace platform
