#include "backend_service.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <set>

#include "byte_range.h"
#include "stop_flag.h"
#include "telemetry_upload.h"

namespace standin {
namespace {

constexpr std::string_view kControlPrefix = "/_control/";

std::optional<std::string> headerOf(const httplib::Request& request, const char* name) {
  if (!request.has_header(name)) return std::nullopt;
  return request.get_header_value(name);
}

bool isDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string statusText(int status) {
  switch (status) {
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Error";
  }
}

void answerText(httplib::Response& response, int status, std::string text,
                const std::string& contentType, Faults faults) {
  response.status = status;
  BodyPlan plan;
  plan.length = text.size();
  plan.source = memoryBody(std::move(text));
  plan.faults = std::move(faults);
  attachBody(response, std::move(plan), contentType);
}

rapidjson::Value headersObject(const httplib::Headers& headers,
                               rapidjson::Document::AllocatorType& allocator) {
  // cpp-httplib files the peer's addresses among the headers; they were not sent.
  static const std::set<std::string> kAddedByServer = {"remote_addr", "remote_port",
                                                       "local_addr", "local_port"};
  rapidjson::Value object(rapidjson::kObjectType);
  for (const auto& [name, value] : headers) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (kAddedByServer.count(lower) || object.HasMember(lower.c_str())) continue;
    object.AddMember(jsonString(lower, allocator), jsonString(value, allocator), allocator);
  }
  return object;
}

}  // namespace

void answerError(httplib::Response& response, int status, Faults faults) {
  const std::string title = std::to_string(status) + " " + statusText(status);
  answerText(response, status,
             "<html><head><title>" + title + "</title></head><body><h1>" + title +
                 "</h1></body></html>\n",
             "text/html; charset=utf-8", std::move(faults));
}

BackendService::BackendService(FileTree tree, FaultTable& faults, JsonLinesFile& records,
                               JsonLinesFile& requests, bool control)
    : tree_(std::move(tree)),
      faults_(faults),
      records_(records),
      requests_(requests),
      control_(control) {}

void BackendService::install(httplib::Server& server) {
  // Ranges are answered here, not by cpp-httplib: it would otherwise cut our
  // already ranged bodies once more, and it neither clamps a range nor
  // answers 416 for one that starts past the end. The request is a
  // modifiable object inside cpp-httplib that only its handlers see as const.
  server.set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
    const_cast<httplib::Request&>(request).ranges.clear();
    currentSendTally() = SendTally{};
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.set_logger([this](const httplib::Request& request, const httplib::Response& response) {
    logRequest(request, response);
  });

  auto route = [this](void (BackendService::*handler)(const httplib::Request&,
                                                      httplib::Response&)) {
    return httplib::Server::Handler(
        [this, handler](const httplib::Request& request, httplib::Response& response) {
          (this->*handler)(request, response);
        });
  };
  server.Get("/zud/properties", route(&BackendService::serveProperties));
  server.Get(".*", route(&BackendService::serveFile));
  server.Post("/collection/biz/upload", route(&BackendService::receiveUpload));
  if (control_) {
    server.Post("/_control/fault", route(&BackendService::addFaults));
    server.Post("/_control/clear", route(&BackendService::clearFaults));
  }
}

bool BackendService::answeredByFault(httplib::Response& response, Faults& faults) {
  if (faults.stallBeforeMs > 0 &&
      !sleepUnlessStopped(std::chrono::milliseconds(faults.stallBeforeMs))) {
    answerError(response, 503);
    return true;
  }
  if (!faults.status) return false;
  answerError(response, *faults.status, faults);
  return true;
}

void BackendService::serveFile(const httplib::Request& request, httplib::Response& response) {
  Faults faults = faults_.take(request.path);
  if (answeredByFault(response, faults)) return;
  const Lookup lookup = tree_.open(request.path);
  answerWithFile(request, response, lookup, contentTypeFor(request.path), std::move(faults));
}

void BackendService::serveProperties(const httplib::Request& request,
                                     httplib::Response& response) {
  Faults faults = faults_.take(request.path);
  if (answeredByFault(response, faults)) return;
  const std::string openid = request.get_param_value("openid");
  if (!isDigits(openid)) {
    answerError(response, 404, std::move(faults));
    return;
  }
  const Lookup lookup = tree_.open("/zud/properties/" + openid + ".json");
  answerWithFile(request, response, lookup, "application/json", std::move(faults));
}

void BackendService::answerWithFile(const httplib::Request& request, httplib::Response& response,
                                    const Lookup& lookup, const std::string& contentType,
                                    Faults faults) {
  if (lookup.result != Lookup::Result::Found) {
    answerError(response, lookup.result == Lookup::Result::Forbidden ? 403 : 404,
                std::move(faults));
    return;
  }
  const std::uint64_t size = lookup.file->size();
  const RangeAnswer range = answerRange(
      faults.ignoreRange ? std::nullopt : headerOf(request, "Range"), size);
  response.set_header("Accept-Ranges", "bytes");
  if (range.kind == RangeAnswer::Kind::Unsatisfiable) {
    response.set_header("Content-Range", "bytes */" + std::to_string(size));
    answerError(response, 416, std::move(faults));
    return;
  }
  response.status = range.kind == RangeAnswer::Kind::Partial ? 206 : 200;
  if (range.kind == RangeAnswer::Kind::Partial) {
    response.set_header("Content-Range", "bytes " + std::to_string(range.start) + "-" +
                                             std::to_string(range.start + range.length - 1) +
                                             "/" + std::to_string(size));
  }
  BodyPlan plan{fileBody(lookup.file), range.start, range.length, std::move(faults)};
  attachBody(response, std::move(plan), contentType);
}

void BackendService::receiveUpload(const httplib::Request& request, httplib::Response& response) {
  Faults faults = faults_.take(request.path);
  const UploadRequest upload{headerOf(request, "timestamp"), headerOf(request, "signature"),
                             headerOf(request, "Content-Type"), headerOf(request, "User-Agent"),
                             request.body};
  const rapidjson::Document record = describeUpload(upload);
  records_.append(record);
  if (answeredByFault(response, faults)) return;
  const bool valid = record["valid"].GetBool();
  answerText(response, 200,
             valid ? "{\"code\":0,\"msg\":\"ok\"}" : "{\"code\":1,\"msg\":\"bad signature\"}",
             "application/json", std::move(faults));
}

void BackendService::addFaults(const httplib::Request& request, httplib::Response& response) {
  std::vector<FaultRule> rules;
  std::size_t start = 0;
  const std::string& body = request.body;
  while (start <= body.size()) {
    std::size_t end = body.find('\n', start);
    if (end == std::string::npos) end = body.size();
    std::string line = body.substr(start, end - start);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    start = end + 1;
    if (line.empty()) continue;
    std::string error;
    auto rule = parseFaultRule(line, error);
    if (!rule) {
      response.status = 400;
      response.set_content(error + "\n", "text/plain");
      return;
    }
    rules.push_back(std::move(*rule));
  }
  for (auto& rule : rules) faults_.add(std::move(rule));
  response.set_content("ok\n", "text/plain");
}

void BackendService::clearFaults(const httplib::Request&, httplib::Response& response) {
  faults_.clear();
  response.set_content("ok\n", "text/plain");
}

void BackendService::logRequest(const httplib::Request& request,
                                const httplib::Response& response) {
  if (request.path.compare(0, kControlPrefix.size(), kControlPrefix) == 0) return;
  const SendTally& tally = currentSendTally();
  const bool head = request.method == "HEAD";
  const std::uint64_t sent = head ? 0 : tally.streamed ? tally.sent : response.body.size();
  const bool complete = head || !tally.streamed || tally.sent == tally.planned;

  rapidjson::Document line(rapidjson::kObjectType);
  auto& allocator = line.GetAllocator();
  line.AddMember("method", jsonString(request.method, allocator), allocator);
  line.AddMember("path", jsonString(request.target, allocator), allocator);
  const auto range = headerOf(request, "Range");
  line.AddMember("range", range ? jsonString(*range, allocator) : rapidjson::Value(), allocator);
  line.AddMember("status", response.status, allocator);
  line.AddMember("bytes", sent, allocator);
  line.AddMember("complete", complete, allocator);
  line.AddMember("headers", headersObject(request.headers, allocator), allocator);
  requests_.append(line);
  currentSendTally() = SendTally{};
}

}  // namespace standin
