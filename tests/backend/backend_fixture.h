// Shared pieces of the back-end tests: a served file tree in a temporary
// folder and a libcurl client that reports everything a test looks at.
#pragma once

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/backend_process.h"
#include "support/sandbox.h"

namespace vireo::testing {

// Byte i of the test installer; any range of it can be checked.
inline char patternByte(std::size_t i) { return static_cast<char>((i * 31 + 7) & 0xFF); }

inline std::string patternBytes(std::size_t start, std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) bytes[i] = patternByte(start + i);
  return bytes;
}

// A temporary folder with the tree the back end serves in "root", and a
// file beside it that no request may reach.
class ServedTree {
 public:
  static constexpr std::size_t kInstallerSize = 300000;
  static constexpr const char* kInstallerPath = "/download/release/zkinst5(64).exe";
  static constexpr const char* kTallisex = R"({"zud9":{"url":"u","ver":"9.1.2"}})";
  static constexpr const char* kProperties = R"({"data":{"packageName":"com.game"}})";

  ServedTree() {
    namespace fs = std::filesystem;
    const std::string root = this->root();
    fs::create_directories(root + "/zk");
    fs::create_directories(root + "/download/release");
    fs::create_directories(root + "/zud/properties");
    fs::create_directories(root + "/zky");
    writeHostFile(root + "/zk/tallisex", kTallisex);
    writeHostFile(root + kInstallerPath, patternBytes(0, kInstallerSize));
    writeHostFile(root + "/zud/properties/12345.json", kProperties);
    writeHostFile(root + "/zky/xukeXieyi.html", "<html>licence</html>");
    writeHostFile(root + "/empty.bin", "");
    writeHostFile(outside(), "secret");
    fs::create_symlink(outside(), root + "/leak");
    fs::create_symlink(root + "/zk/tallisex", root + "/inside-link");
  }

  std::string root() const { return sandbox_.folder() + "/root"; }
  std::string outside() const { return sandbox_.folder() + "/secret.txt"; }
  const std::string& folder() const { return sandbox_.folder(); }

 private:
  Sandbox sandbox_;
};

struct FetchOptions {
  std::string range;                // "bytes=..." without the header name
  std::vector<std::string> headers;  // whole header lines
  bool post = false;
  std::string body;
  std::string caFile;               // with it, the peer and host are verified
  bool verify = false;
  bool pathAsIs = false;            // send "/../" and friends unchanged
  long timeoutMs = 20000;
};

struct FetchResult {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::string body;
  std::map<std::string, std::string> headers;  // lower-case names
  double seconds = 0;
  double headersSeconds = 0;  // until the answer's headers had arrived

  bool hasHeader(const std::string& name) const { return headers.count(name) > 0; }
  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

inline FetchResult fetch(const std::string& url, const FetchOptions& options = {}) {
  FetchResult result;
  CURL* curl = curl_easy_init();
  if (!curl) {
    result.code = CURLE_FAILED_INIT;
    return result;
  }
  curl_slist* headers = nullptr;
  for (const auto& line : options.headers) headers = curl_slist_append(headers, line.c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, options.timeoutMs);
  curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, options.pathAsIs ? 1L : 0L);
  if (!options.range.empty()) {
    // CURLOPT_RANGE would drop a "bytes=" of our own; send the header as is.
    headers = curl_slist_append(headers, ("Range: " + options.range).c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  }
  if (options.post) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, options.body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(options.body.size()));
  }
  if (options.verify) {
    curl_easy_setopt(curl, CURLOPT_CAINFO, options.caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
  } else {
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  }
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION,
                   +[](char* data, size_t size, size_t count, void* out) {
                     static_cast<std::string*>(out)->append(data, size * count);
                     return size * count;
                   });
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &result.headers);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION,
                   +[](char* data, size_t size, size_t count, void* out) {
                     std::string line(data, size * count);
                     const auto colon = line.find(':');
                     if (colon != std::string::npos) {
                       std::string name = line.substr(0, colon);
                       std::transform(name.begin(), name.end(), name.begin(), ::tolower);
                       std::string value = line.substr(colon + 1);
                       value.erase(0, value.find_first_not_of(' '));
                       value.erase(value.find_last_not_of("\r\n ") + 1);
                       (*static_cast<std::map<std::string, std::string>*>(out))[name] = value;
                     }
                     return size * count;
                   });
  const auto began = std::chrono::steady_clock::now();
  result.code = curl_easy_perform(curl);
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
  curl_easy_getinfo(curl, CURLINFO_STARTTRANSFER_TIME, &result.headersSeconds);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return result;
}

inline rapidjson::Document parseJson(const std::string& text) {
  rapidjson::Document document;
  document.Parse(text.c_str());
  return document;
}

}  // namespace vireo::testing
