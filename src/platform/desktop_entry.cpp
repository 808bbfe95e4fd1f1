#include "platform/desktop_entry.h"

#include <sys/stat.h>

#include <vector>

#include "platform/code_pages.h"
#include "platform/command_line.h"
#include "platform/drives.h"
#include "platform/files.h"
#include "platform/known_folders.h"

namespace platform {
namespace {

// The folder part of a Windows path ("C:\a\b.lnk" -> "C:\a"), or empty.
std::wstring folderOf(const std::wstring& path) {
  size_t at = path.find_last_of(L"\\/");
  return at == std::wstring::npos ? std::wstring() : path.substr(0, at);
}

// The file name without its ".lnk" (any case).
std::wstring linkName(const std::wstring& linkPath) {
  size_t at = linkPath.find_last_of(L"\\/");
  std::wstring name = at == std::wstring::npos ? linkPath : linkPath.substr(at + 1);
  if (name.size() > 4) {
    std::wstring ext = name.substr(name.size() - 4);
    for (wchar_t& c : ext) c = static_cast<wchar_t>(c >= L'A' && c <= L'Z' ? c + 32 : c);
    if (ext == L".lnk") name.resize(name.size() - 4);
  }
  return name;
}

// A value of a desktop entry key: backslash and control characters escaped.
std::string escapeValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

// One argument of the Exec key, always quoted; "%" is doubled so that it is
// never read as a field code.
std::string execArgument(const std::string& argument) {
  std::string out = "\"";
  for (char c : argument) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    if (c == '%') out += '%';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string desktopEntryText(const std::wstring& name, const ShellLink& link) {
  std::string program = hostPath(link.target);
  if (program.empty()) return {};
  std::string exec = execArgument(program);
  if (!link.arguments.empty()) {
    // The arguments are a Windows command-line tail: split them as the
    // program would see them.
    std::vector<std::wstring> argv = splitCommandLine(L"x " + link.arguments);
    for (size_t i = 1; i < argv.size(); ++i) {
      exec += ' ';
      exec += execArgument(wideToUtf8(argv[i]));
    }
  }
  std::string text = "[Desktop Entry]\nType=Application\nVersion=1.0\n";
  text += "Name=" + escapeValue(wideToUtf8(name)) + "\n";
  text += "Exec=" + escapeValue(exec) + "\n";
  if (!link.workingDir.empty()) {
    std::string folder = hostPath(link.workingDir);
    if (!folder.empty()) text += "Path=" + escapeValue(folder) + "\n";
  }
  if (!link.iconPath.empty()) {
    std::string icon = hostPath(link.iconPath);
    if (!icon.empty()) text += "Icon=" + escapeValue(icon) + "\n";
  }
  text += "Terminal=false\n";
  return text;
}

bool writeDesktopEntry(const std::wstring& linkPath, const ShellLink& link) {
  std::wstring name = linkName(linkPath);
  std::string text = desktopEntryText(name, link);
  std::wstring folder = folderOf(linkPath);
  if (text.empty() || folder.empty()) return false;
  std::wstring entryPath = folder + L"\\" + name + L".desktop";
  if (!writeFileAtomically(entryPath, text)) return false;
  // Desktops start only launchers that their owner may execute.
  chmod(hostPath(entryPath).c_str(), 0755);
  return true;
}

bool isOnDesktop(const std::wstring& linkPath) {
  std::string folder = hostPath(folderOf(linkPath));
  return !folder.empty() && folder == hostPath(desktopFolder());
}

}  // namespace platform
