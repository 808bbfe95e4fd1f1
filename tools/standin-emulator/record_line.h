// What the product stand-ins were given, written as JSON lines into files
// beside them so that tests (and people) can read it back.
#pragma once

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>

namespace standin {

// One JSON object on one line.
class RecordLine {
 public:
  RecordLine();
  RecordLine& add(const char* key, const std::string& utf8Text);
  RecordLine& add(const char* key, long long number);

  // Appends the line with one write, so that the lines of programs running
  // at once never mix. False (said on standard error) when it fails.
  bool appendTo(const std::string& hostFile);

 private:
  rapidjson::StringBuffer buffer_;
  rapidjson::Writer<rapidjson::StringBuffer> writer_;
};

// The host folder of the running program.
std::string ownHostFolder();

// This process's whole command line (platform::ownCommandLine) in UTF-8, and
// what follows the program name.
std::string commandLineUtf8();
std::string argumentsUtf8();

}  // namespace standin
