#include "options.h"

#include <charconv>
#include <string_view>

namespace standin {

const char* const kUsage =
    "usage: standin-backend --root DIR [--port N] [--tls CERT KEY] [--record FILE]\n"
    "                       [--requests FILE] [--fault SPEC]... [--control]\n"
    "Serves DIR on 127.0.0.1 (HTTPS with --tls). --record appends one JSON line per\n"
    "telemetry upload, --requests one per request. --fault PATH:FAULT[,FAULT...] with\n"
    "FAULT one of cut=N, ignore-range, status=CODE, stall-before=MS, stall-at=N:MS,\n"
    "chunked, throttle=BYTES_PER_S, once. --control accepts POST /_control/fault\n"
    "(body: a fault spec) and POST /_control/clear.\n";

std::optional<Options> parseOptions(int argc, char** argv, std::string& error) {
  Options options;
  auto needs = [&](int i, int count) {
    if (i + count < argc) return true;
    error = std::string(argv[i]) + " needs " + (count == 1 ? "a value" : "two values");
    return false;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--root") {
      if (!needs(i, 1)) return std::nullopt;
      options.root = argv[++i];
    } else if (arg == "--port") {
      if (!needs(i, 1)) return std::nullopt;
      const std::string_view text = argv[++i];
      const auto result = std::from_chars(text.data(), text.data() + text.size(), options.port);
      if (result.ec != std::errc() || result.ptr != text.data() + text.size() ||
          options.port < 0 || options.port > 65535) {
        error = "bad port \"" + std::string(text) + "\"";
        return std::nullopt;
      }
    } else if (arg == "--tls") {
      if (!needs(i, 2)) return std::nullopt;
      options.tlsCertificate = argv[++i];
      options.tlsKey = argv[++i];
    } else if (arg == "--record") {
      if (!needs(i, 1)) return std::nullopt;
      options.recordFile = argv[++i];
    } else if (arg == "--requests") {
      if (!needs(i, 1)) return std::nullopt;
      options.requestsFile = argv[++i];
    } else if (arg == "--fault") {
      if (!needs(i, 1)) return std::nullopt;
      options.faults.emplace_back(argv[++i]);
    } else if (arg == "--control") {
      options.control = true;
    } else {
      error = "unknown argument \"" + std::string(arg) + "\"";
      return std::nullopt;
    }
  }
  if (options.root.empty()) {
    error = "--root is required";
    return std::nullopt;
  }
  return options;
}

}  // namespace standin
