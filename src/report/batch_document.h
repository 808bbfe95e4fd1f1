// The text of one upload: a pretty-printed JSON array with one object per
// event, in queue order.
//
//   [
//       {
//           "appId": 1,
//           "eventId": "<GUID>",
//           "eventKey": "start_download",
//           "timestamp": 1700000000000,
//           "properties": {
//               "zud_version": "24.12.26",
//               "downloader_version": "24.12.26",
//               "zud_mac": "<pcid>",
//               "device_id": "<pcid>",
//               "openid": "<openid>"      <- then whatever the filler adds
//           }
//       }
//   ]
#pragma once

#include <functional>
#include <list>
#include <string>

#include "report/event_record.h"

namespace report {

// What every event of a batch carries besides its own key and time.
struct BatchIdentity {
  std::wstring version;  // the installer's version text
  std::wstring pcid;     // machine identifier ("zud_mac" and "device_id")
  std::wstring openid;   // may be empty
};

using EventIdSource = std::function<std::wstring()>;

// Builds the batch and runs each record's filler on its properties object.
// `newEventId` is asked once per event, in order. An empty list gives "[]".
std::string buildBatchDocument(const std::list<EventRecord>& records, const BatchIdentity& identity,
                               const EventIdSource& newEventId);

}  // namespace report
