// The edition type names that the first piece of the installer's file name
// carries, and the edition number each one selects.
#pragma once

#include <optional>
#include <string>

namespace launch {

// The edition of a type name that is already lower-cased ("vireo9" -> 3);
// nothing for any other text.
std::optional<int> editionOfType(const std::wstring& lowerCaseType);

}  // namespace launch
