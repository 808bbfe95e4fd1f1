// The routes of the stand-in back end on a cpp-httplib server:
//   GET  /zud/properties?openid=DIGITS[&packageName=...]  DIR/zud/properties/DIGITS.json
//   POST /collection/biz/upload                           telemetry, checked and recorded
//   POST /_control/fault, /_control/clear                 with --control only
//   GET  anything else                                    the file DIR + path
// Every answer outside /_control/ is subject to the fault rules and logged
// to the requests file.
#pragma once

#include <string>

#include <httplib.h>

#include "body_stream.h"
#include "fault_rules.h"
#include "file_tree.h"
#include "json_lines.h"

namespace standin {

class BackendService {
 public:
  BackendService(FileTree tree, FaultTable& faults, JsonLinesFile& records,
                 JsonLinesFile& requests, bool control);

  void install(httplib::Server& server);

 private:
  void serveFile(const httplib::Request& request, httplib::Response& response);
  void serveProperties(const httplib::Request& request, httplib::Response& response);
  void receiveUpload(const httplib::Request& request, httplib::Response& response);
  void addFaults(const httplib::Request& request, httplib::Response& response);
  void clearFaults(const httplib::Request& request, httplib::Response& response);

  // Sends a found file (or the range of it that was asked for).
  void answerWithFile(const httplib::Request& request, httplib::Response& response,
                      const Lookup& lookup, const std::string& contentType, Faults faults);
  // Waits out "stall-before" and answers a "status" fault; true when the
  // request has been answered that way.
  bool answeredByFault(httplib::Response& response, Faults& faults);
  void logRequest(const httplib::Request& request, const httplib::Response& response);

  FileTree tree_;
  FaultTable& faults_;
  JsonLinesFile& records_;
  JsonLinesFile& requests_;
  bool control_;
};

// A small HTML page for an error status.
void answerError(httplib::Response& response, int status, Faults faults = {});

}  // namespace standin
