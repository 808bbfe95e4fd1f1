// The edition table: every name, folder, registry key, shortcut name and
// installer path that depends on the edition. The launch reader turns the
// file name's type text into the edition number (app/launch).
#pragma once

namespace config {

struct EditionRow {
  const wchar_t* productName;
  const wchar_t* installSubDir;   // ends with "\"
  const wchar_t* installerPath;   // on the resource CDN
  const wchar_t* registryKey;     // under HKEY_CURRENT_USER
  const wchar_t* shortcutName;    // desktop shortcut file name; empty for row 0
};

constexpr int kEditionCount = 6;

// The row of an edition number; any number outside 1 to 5 takes row 0.
const EditionRow& editionRow(int edition);

}  // namespace config
