// Texts of the user interface by identifier. The skin's multi-language table
// and language bundle fill the table; a missing identifier yields itself.
#pragma once

#include <map>
#include <string>

std::wstring getLanguageText(const std::wstring& id);

// Replaces the table (the language bundle's loader; tests).
void setLanguageTexts(std::map<std::wstring, std::wstring> texts);
