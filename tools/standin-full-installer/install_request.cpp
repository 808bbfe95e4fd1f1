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

// The value after "-path=" in the argument text: up to the closing quote
// when it starts with one, else up to the next blank.
std::wstring folderAsWritten(const std::wstring& arguments) {
  const std::wstring option = L"-path=";
  size_t at = 0;
  while ((at = arguments.find(option, at)) != std::wstring::npos) {
    if (at == 0 || arguments[at - 1] == L' ' || arguments[at - 1] == L'\t') break;
    at += option.size();
  }
  if (at == std::wstring::npos) return {};
  size_t start = at + option.size();
  if (start < arguments.size() && arguments[start] == L'"') {
    size_t close = arguments.find(L'"', start + 1);
    return arguments.substr(start + 1, close == std::wstring::npos ? std::wstring::npos : close - start - 1);
  }
  return arguments.substr(start, arguments.find_first_of(L" \t", start) - start);
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
    } else {
      takeValue(argument, L"-openid=", request.openid);
    }
  }
  request.folder = folderAsWritten(platform::argumentsAfterProgram(commandLine));
  return request;
}

}  // namespace standin
