// What the installer asks of the full installer, read from its command line:
//
//   "<installer path>" -silence -downloader -openid=<id> -path="<folder>"
#pragma once

#include <string>

namespace standin {

struct InstallRequest {
  bool silence = false;
  bool downloader = false;
  std::wstring openid;
  std::wstring folder;  // a Windows path, as given (normally ending with "\")
};

// Splits by the Windows rules. A folder ending with a backslash comes out of
// those rules with the closing quote kept ("D:\tallis\Vireo9\"" ->
// D:\tallis\Vireo9" to the end of the line), as real installers see it
// too; that quote is not part of the folder and is dropped.
InstallRequest parseInstallRequest(const std::wstring& commandLine);

}  // namespace standin
