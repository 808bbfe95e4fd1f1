#include "app/launch/edition_types.h"

namespace launch {
namespace {

struct EditionType {
  const wchar_t* name;
  int edition;
};

constexpr EditionType kEditionTypes[] = {
    {L"vireo3", 0}, {L"vireo4", 1}, {L"vireo64", 2},
    {L"vireo9", 3}, {L"vireo5", 4}, {L"vireo5(64)", 5},
};

}  // namespace

std::optional<int> editionOfType(const std::wstring& lowerCaseType) {
  for (const auto& type : kEditionTypes) {
    if (lowerCaseType == type.name) return type.edition;
  }
  return std::nullopt;
}

}  // namespace launch
