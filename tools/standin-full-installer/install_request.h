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

// The switches and the openid are split by the Windows rules. The folder is
// read as written, between its quotes (as the installers of this family read
// it): by the Windows rules a folder ending with a backslash, as the
// installer passes it ("D:\tallis\Vireo9\"), would lose that backslash and
// swallow its closing quote.
InstallRequest parseInstallRequest(const std::wstring& commandLine);

}  // namespace standin
