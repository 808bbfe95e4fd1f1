#include "record_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/code_pages.h"
#include "platform/command_line.h"
#include "platform/known_folders.h"

namespace standin {

RecordLine::RecordLine() : writer_(buffer_) { writer_.StartObject(); }

RecordLine& RecordLine::add(const char* key, const std::string& utf8Text) {
  writer_.Key(key);
  writer_.String(utf8Text.data(), static_cast<rapidjson::SizeType>(utf8Text.size()));
  return *this;
}

RecordLine& RecordLine::add(const char* key, long long number) {
  writer_.Key(key);
  writer_.Int64(number);
  return *this;
}

bool RecordLine::appendTo(const std::string& hostFile) {
  if (!writer_.IsComplete()) writer_.EndObject();
  std::string line = std::string(buffer_.GetString(), buffer_.GetSize()) + "\n";
  int fd = ::open(hostFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  ssize_t written = -1;
  if (fd >= 0) {
    do {
      written = ::write(fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    ::close(fd);
  }
  if (written != static_cast<ssize_t>(line.size())) {
    std::fprintf(stderr, "cannot append to %s: %s\n", hostFile.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

std::string ownHostFolder() {
  std::string path = platform::moduleHostPath();
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string commandLineUtf8() { return platform::wideToUtf8(platform::ownCommandLine()); }

std::string argumentsUtf8() {
  return platform::wideToUtf8(platform::argumentsAfterProgram(platform::ownCommandLine()));
}

}  // namespace standin
