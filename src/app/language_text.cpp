#include "app/language_text.h"

namespace {

std::map<std::wstring, std::wstring>& table() {
  static std::map<std::wstring, std::wstring> texts;
  return texts;
}

}  // namespace

std::wstring getLanguageText(const std::wstring& id) {
  auto found = table().find(id);
  return found == table().end() ? id : found->second;
}

void setLanguageTexts(std::map<std::wstring, std::wstring> texts) { table() = std::move(texts); }
