#include "install_request.h"

#include <vector>

#include "platform/command_line.h"

namespace standin {
namespace {

bool takeValue(const std::wstring& argument, const wchar_t* prefix, std::wstring& value) {
  std::wstring start = prefix;
  if (argument.compare(0, start.size(), start) != 0) return false;
  value = argument.substr(start.size());
  return true;
}

}  // namespace

InstallRequest parseInstallRequest(const std::wstring& commandLine) {
  InstallRequest request;
  std::vector<std::wstring> args = platform::splitCommandLine(commandLine);
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& argument = args[i];
    if (argument == L"-silence") {
      request.silence = true;
    } else if (argument == L"-downloader") {
      request.downloader = true;
    } else if (takeValue(argument, L"-openid=", request.openid)) {
    } else if (takeValue(argument, L"-path=", request.folder)) {
      if (!request.folder.empty() && request.folder.back() == L'"') request.folder.pop_back();
    }
  }
  return request;
}

}  // namespace standin
