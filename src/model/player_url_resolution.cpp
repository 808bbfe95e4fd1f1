// Where the full installer of the selected edition is: the download-resolution
// answer (one entry per edition family) fetched on urlThread, read into the
// address fields that the UI thread takes over as whole values.
#include <rapidjson/document.h>

#include <string>

#include "config/config_imp.h"
#include "model/bx_downloader_model.h"
#include "net/zk_curl_downloader.h"
#include "platform/clock.h"
#include "platform/machine_profile.h"
#include "utility/log.h"
#include "utility/ufile.h"
#include "utility/ustring.h"

namespace {

// Every line of the resolution is logged under the thread's name.
constexpr const char* kThreadFunction = "BXDownloaderModel::_threadGetPlayerUrl";

// A local file that replaces the answer; nothing is fetched then.
constexpr const wchar_t* kOverrideFile = L"C:\\tallisex";
constexpr const char* kZud5Entry = "zud5";
constexpr int kEditionVireo5 = 4;

// The answer's entry for an edition; edition 4 has none of its own (it takes
// the "zud5" entry over).
const char* entryOfEdition(int edition) {
  switch (edition) {
    case 1:
      return "zud4";
    case 2:
      return "zud64";
    case 3:
      return "zud9";
    case 5:
      return "zud5(64)";
    default:
      return "zud";
  }
}

// A string member replaces the field; a missing member or one of another type
// leaves it as it is.
void readString(const rapidjson::Value& entry, const char* key, std::wstring& field) {
  auto member = entry.FindMember(key);
  if (member == entry.MemberEnd() || !member->value.IsString()) return;
  field = utility::ustring::utf8ToWide(
      std::string(member->value.GetString(), member->value.GetStringLength()));
}

void readEntry(const rapidjson::Value& answer, const char* name, PlayerAddress& address) {
  auto entry = answer.FindMember(name);
  if (entry == answer.MemberEnd() || !entry->value.IsObject()) return;
  readString(entry->value, "url", address.url);
  readString(entry->value, "url_spare", address.urlSpare);
  readString(entry->value, "ver", address.version);
  readString(entry->value, "vershow", address.versionShow);
}

bool readWholeFile(const std::wstring& path, std::string& out) {
  utility::ufile::MappedFile file;
  if (!file.open(path)) return false;
  if (file.size() > 0) out.assign(reinterpret_cast<const char*>(file.data()), file.size());
  return true;
}

}  // namespace

void BXDownloaderModel::_threadGetPlayerUrl() {
  const std::string answer = fetchPlayerUrlAnswer();
  // A thread asked to stop no longer writes: the UI thread has taken the
  // addresses over (the default address) or the model is shutting down.
  if (urlThread_.isStopping()) return;
  applyPlayerUrlAnswer(answer);
  if (gameItems.empty() && !urlThread_.isStopping()) _getPackageByOpenID();
}

std::string BXDownloaderModel::fetchPlayerUrlAnswer() {
  std::string answer;
  if (utility::ufile::isExist(kOverrideFile)) {
    if (!readWholeFile(kOverrideFile, answer)) {
      VLOG_AS(kThreadFunction, L"%ls cannot be read", kOverrideFile);
    }
    return answer;
  }
  const std::wstring address = ConfigImp::getInstance()->getPlayerUrlAddress();
  if (urlDownloader_.download2mem(answer, address)) return answer;
  VLOG_AS(kThreadFunction, L"error 1");
  if (urlThread_.isStopping()) return answer;
  VLOG_AS(kThreadFunction, L"ZKCurlDownloader::downloadMemory start");
  // The downloader's cancel token also ends the libcurl transfer when the
  // thread is stopped.
  ZKCurlDownloader curl(&urlDownloader_.cancelToken());
  curl.downloadMemory(utility::ustring::wideToAnsi(address), answer, {});
  return answer;
}

void BXDownloaderModel::applyPlayerUrlAnswer(const std::string& answer) {
  PlayerAddress player = getPlayerAddress();
  PlayerAddress zud5 = getZud5Address();

  rapidjson::Document document;
  // Iterative: a hostile answer nested a million levels deep cannot exhaust
  // the stack.
  document.Parse<rapidjson::kParseIterativeFlag>(answer.data(), answer.size());
  if (document.HasParseError() || !document.IsObject()) {
    VLOG_AS(kThreadFunction, L"error 2");
  } else {
    readEntry(document, kZud5Entry, zud5);
    const int edition = ConfigImp::getInstance()->edition;
    if (edition == kEditionVireo5) {
      player = zud5;
    } else {
      readEntry(document, entryOfEdition(edition), player);
    }
  }

  if (player.urlSpare.empty()) player.urlSpare = player.url;
  // Without a version the file is named after the moment instead.
  if (player.version.empty()) player.version = std::to_wstring(platform::tickCount());

  std::lock_guard<std::mutex> lock(addressMutex_);
  player_ = std::move(player);
  zud5_ = std::move(zud5);
}

void BXDownloaderModel::stopUrlThread() {
  urlThread_.requestStop();
  urlDownloader_.cancel();
  stopWithinLimit(urlThread_);
}

PlayerAddress BXDownloaderModel::getPlayerAddress() const {
  std::lock_guard<std::mutex> lock(addressMutex_);
  return player_;
}

void BXDownloaderModel::setPlayerAddress(const PlayerAddress& address) {
  std::lock_guard<std::mutex> lock(addressMutex_);
  player_ = address;
}

PlayerAddress BXDownloaderModel::getZud5Address() const {
  std::lock_guard<std::mutex> lock(addressMutex_);
  return zud5_;
}

std::wstring BXDownloaderModel::getShowUrl() const {
  std::lock_guard<std::mutex> lock(addressMutex_);
  return player_.urlSpare.empty() ? player_.url : player_.urlSpare;
}
