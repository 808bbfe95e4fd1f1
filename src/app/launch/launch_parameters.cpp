#include "app/launch/launch_parameters.h"

#include <map>

#include "app/launch/edition_types.h"
#include "utility/ufile.h"
#include "utility/ustring.h"

namespace launch {
namespace {

namespace ustring = utility::ustring;

constexpr size_t kCommandLineQuoteThreshold = 5;  // shorter texts keep their quotes

bool isPackageName(const std::wstring& s) { return s.size() > 3; }
bool isOpenid(const std::wstring& s) { return s.size() > 2 && ustring::isDigits(s); }
bool isGameId(const std::wstring& s) { return !s.empty() && ustring::isDigits(s); }

std::wstring valueOf(const std::map<std::wstring, std::wstring>& keys, const wchar_t* key) {
  std::wstring value;
  ustring::findValue(keys, key, value);
  return value;
}

}  // namespace

FileNameParameters readFileNameParameters(const std::wstring& modulePath) {
  FileNameParameters out;
  std::wstring name = utility::ufile::getFileName(modulePath, false);
  out.logLines.push_back(L"BXDownloaderModel::exe filename= " + name);

  std::vector<std::wstring> pieces;
  ustring::split(pieces, name, L"_");
  if (pieces.size() >= 4) {
    std::wstring type = pieces[0];
    const std::wstring& package = pieces[1];
    const std::wstring& openid = pieces[2];
    std::wstring gameId = pieces.size() >= 5 ? pieces[3] : std::wstring();
    out.logLines.push_back(L"type: " + type + L", package:" + package + L", openID:" + openid +
                           L" gameID " + gameId);

    if (isOpenid(openid)) out.openid = openid;
    if (isPackageName(package)) out.packageName = package;
    if (isGameId(gameId)) out.gameId = gameId;
    ustring::toLower(type);
    out.edition = editionOfType(type);
  }
  out.logLines.push_back(L"openid is " + out.openid + L", package is " + out.packageName);
  return out;
}

CommandLineParameters readCommandLineParameters(const wchar_t* commandLine) {
  CommandLineParameters out;
  if (!commandLine) return out;

  std::wstring text = commandLine;
  if (text.size() > kCommandLineQuoteThreshold) {
    if (text.front() == L'"') text.erase(0, 1);
    if (!text.empty() && text.back() == L'"') text.pop_back();
  }

  std::vector<std::wstring> pieces;
  ustring::split(pieces, text, L"|");
  std::map<std::wstring, std::wstring> keys;
  ustring::parseKeyValues(keys, pieces, L"=");
  if (keys.empty()) return out;

  std::wstring name = valueOf(keys, L"name");
  std::wstring package = valueOf(keys, L"package");
  std::wstring apkUrl = valueOf(keys, L"apkurl");
  if (!apkUrl.empty()) out.gameItem = LaunchGameItem{apkUrl, name, package};
  out.logLines.push_back(L"cmdline is " + name + L", " + package + L", " + apkUrl);
  return out;
}

}  // namespace launch
