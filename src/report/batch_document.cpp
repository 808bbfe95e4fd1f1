#include "report/batch_document.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include "utility/ustring.h"

namespace report {
namespace {

rapidjson::Value jsonText(const std::wstring& text, rapidjson::Document::AllocatorType& allocator) {
  const std::string utf8 = utility::ustring::wideToUtf8(text);
  return rapidjson::Value(utf8.c_str(), static_cast<rapidjson::SizeType>(utf8.size()), allocator);
}

rapidjson::Value commonProperties(const BatchIdentity& identity,
                                  rapidjson::Document::AllocatorType& allocator) {
  rapidjson::Value properties(rapidjson::kObjectType);
  properties.AddMember("zud_version", jsonText(identity.version, allocator), allocator);
  properties.AddMember("downloader_version", jsonText(identity.version, allocator), allocator);
  properties.AddMember("zud_mac", jsonText(identity.pcid, allocator), allocator);
  properties.AddMember("device_id", jsonText(identity.pcid, allocator), allocator);
  properties.AddMember("openid", jsonText(identity.openid, allocator), allocator);
  return properties;
}

rapidjson::Value eventObject(const EventRecord& record, const BatchIdentity& identity,
                             const std::wstring& eventId,
                             rapidjson::Document::AllocatorType& allocator) {
  rapidjson::Value event(rapidjson::kObjectType);
  event.AddMember("appId", 1, allocator);
  event.AddMember("eventId", jsonText(eventId, allocator), allocator);
  event.AddMember("eventKey", jsonText(record.key, allocator), allocator);
  event.AddMember("timestamp", rapidjson::Value(static_cast<std::uint64_t>(record.time)),
                  allocator);
  rapidjson::Value properties = commonProperties(identity, allocator);
  if (record.filler) record.filler(properties, allocator);
  event.AddMember("properties", properties, allocator);
  return event;
}

}  // namespace

std::string buildBatchDocument(const std::list<EventRecord>& records, const BatchIdentity& identity,
                               const EventIdSource& newEventId) {
  rapidjson::Document document(rapidjson::kArrayType);
  auto& allocator = document.GetAllocator();
  for (const EventRecord& record : records) {
    document.PushBack(eventObject(record, identity, newEventId(), allocator), allocator);
  }
  rapidjson::StringBuffer text;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(text);
  document.Accept(writer);
  return std::string(text.GetString(), text.GetSize());
}

}  // namespace report
