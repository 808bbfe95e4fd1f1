// The command line of standin-backend.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace standin {

struct Options {
  std::string root;
  int port = 0;  // 0: any free port
  std::string tlsCertificate;
  std::string tlsKey;
  std::string recordFile;
  std::string requestsFile;
  std::vector<std::string> faults;
  bool control = false;
};

extern const char* const kUsage;

// Parses argv; on failure returns nothing and sets `error`.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error);

}  // namespace standin
