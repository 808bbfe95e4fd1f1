#include "support/installer_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <regex>
#include <thread>

#include "gtest/gtest.h"
#include "platform/code_pages.h"
#include "platform/command_line.h"

namespace fs = std::filesystem;

namespace vireo::testing {

std::ostream& operator<<(std::ostream& out, const LogLine& l) {
  return out << l.function << ": " << ::testing::PrintToString(l.message);
}

std::vector<LogLine> parseLog(const std::string& text) {
  static const std::regex header(
      R"((^|\r\n)\d\d-\d\d\t\d\d:\d\d:\d\d\.\d{3}\t\d{4,}\t([^\t\r\n]*)\t\(\d+\):)");
  std::vector<LogLine> lines;
  std::vector<size_t> starts;  // where each message begins
  for (auto it = std::sregex_iterator(text.begin(), text.end(), header);
       it != std::sregex_iterator(); ++it) {
    size_t headerStart = it->position(0) + it->length(1);
    if (!lines.empty()) lines.back().message = text.substr(starts.back(), headerStart - starts.back());
    lines.push_back({(*it)[2].str(), ""});
    starts.push_back(it->position(0) + it->length(0));
  }
  if (!lines.empty()) lines.back().message = text.substr(starts.back());
  for (auto& l : lines) {
    if (l.message.size() >= 2 && l.message.compare(l.message.size() - 2, 2, "\r\n") == 0) {
      l.message.resize(l.message.size() - 2);
    }
  }
  return lines;
}

std::vector<std::string> messagesOf(const std::vector<LogLine>& lines, const std::string& function) {
  std::vector<std::string> out;
  for (const auto& l : lines) {
    if (l.function == function) out.push_back(l.message);
  }
  return out;
}

InstallerProcess::InstallerProcess(const Sandbox& box, const std::string& relativePath,
                                   std::vector<std::string> environment)
    : box_(box), relative_(relativePath), environment_(std::move(environment)) {
  host_ = box_.driveRoot('C') + "/" + relative_;
  fs::create_directories(fs::path(host_).parent_path());
  std::string built = std::string(VIREO_BIN_DIR) + "/vireo-installer";
  std::error_code error;
  fs::remove(host_, error);
  fs::create_hard_link(built, host_, error);
  if (error) fs::copy_file(built, host_, fs::copy_options::overwrite_existing);
}

InstallerProcess::~InstallerProcess() {
  if (pid_ > 0 && exitCode_ == -1) {
    kill(pid_, SIGKILL);  // our own child
    waitpid(pid_, nullptr, 0);
  }
}

bool InstallerProcess::start(const std::wstring& arguments) {
  std::wstring windowsPath = L"C:\\" + platform::utf8ToWide(relative_);
  for (auto& c : windowsPath) c = c == L'/' ? L'\\' : c;
  std::wstring full = platform::quoteArgument(windowsPath);
  if (!arguments.empty()) full += L" " + arguments;

  std::vector<std::string> args = {host_};
  auto split = platform::splitCommandLine(full);
  for (size_t i = 1; i < split.size(); ++i) args.push_back(platform::wideToUtf8(split[i]));
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> env = {
      "VIREO_PROFILE=" + box_.profilePath(),
      std::string(platform::kCommandLineVariable) + "=" + platform::wideToUtf8(full),
      "HOME=" + box_.folder(),
      "PATH=/usr/bin:/bin",
  };
  env.insert(env.end(), environment_.begin(), environment_.end());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  return posix_spawn(&pid_, host_.c_str(), nullptr, nullptr, argv.data(), envp.data()) == 0;
}

int InstallerProcess::wait(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  if (exitCode_ != -1) return exitCode_;
  auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);  // our own child, hung
      waitpid(pid_, &status, 0);
      exitCode_ = -2;
      return exitCode_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -3;
  return exitCode_;
}

void InstallerProcess::terminate() {
  if (pid_ > 0 && exitCode_ == -1) kill(pid_, SIGTERM);
}

std::string InstallerProcess::logPath() const {
  return box_.appDataHost() + "/downloader/downloader.log";
}

std::vector<LogLine> InstallerProcess::log() const { return parseLog(readHostFile(logPath())); }

bool InstallerProcess::waitForLog(const std::string& needle, std::chrono::milliseconds limit) const {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    for (const auto& l : log()) {
      if (l.message.find(needle) != std::string::npos) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace vireo::testing
