// The full installer: reused from disk when it carries the publisher's
// signature, otherwise downloaded on downloadThread (the second stack from
// the address, then from the spare address, then libcurl) and handed on only
// when the downloaded file carries that signature too.
#include <climits>
#include <cstdint>
#include <string>

#include "app/tasks/runable.h"
#include "config/config_imp.h"
#include "config/installer_contract.h"
#include "model/bx_downloader_model.h"
#include "model/installer_signature.h"
#include "net/zk_curl_downloader.h"
#include "platform/clock.h"
#include "platform/machine_profile.h"
#include "platform/os_facts.h"
#include "report/event_reports.h"
#include "utility/log.h"
#include "utility/ufile.h"
#include "utility/ustring.h"

namespace {

constexpr std::uint32_t kDefaultUrlTickMs = 1000;
constexpr unsigned kTicksToWaitForAddress = 2;
constexpr std::uint32_t kProgressIntervalMs = 1000;
constexpr std::uint32_t kNoConnectionPauseMs = 1000;
constexpr std::uint64_t kSmallestInstaller = 1048576;  // a smaller libcurl result is an error page
constexpr const wchar_t* kTemporarySuffix = L".tmp";
constexpr const wchar_t* kTooSmallSuffix = L".tmpcur";
constexpr const wchar_t* kUnsignedSuffix = L".unsigned";  // kept for diagnosis, never run
constexpr DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;

// Ticks of the default-address timer for the whole process; never reset, so
// a second wait for the address proceeds at its first tick.
unsigned defaultAddressTicks = 0;

// Elapsed whole seconds rounded up to a multiple of 30 (0 stays 0).
int roundedElapsedSeconds(std::uint32_t elapsedMs) {
  const std::uint32_t seconds = elapsedMs / 1000;
  return static_cast<int>((seconds + 29) / 30 * 30);
}

int percentOf(std::int64_t received, std::int64_t total) {
  if (total == 0) return 0;
  const double percent = static_cast<double>(received) / static_cast<double>(total) * 100.0;
  if (percent >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (percent <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(percent);
}

int low32(std::int64_t count) {
  return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(count)));
}

// The path of the last full installer that was run, from the cache record
// (ANSI code page); empty when there is none.
std::wstring readCacheRecord() {
  utility::ufile::MappedFile record;
  if (!record.open(utility::ufile::getAppDataDir() + contract::kCacheRecord) ||
      record.size() == 0) {
    return {};
  }
  return utility::ustring::ansiToWide(
      std::string(reinterpret_cast<const char*>(record.data()), record.size()));
}

}  // namespace

void BXDownloaderModel::startDownloadPlayerEx() {
  state_.store(kStateDownloading);
  if (!getPlayerAddress().url.empty()) {
    report::reportEvent(report::key::kStartInstallSuccess);
    realDownloadPlayer();
    return;
  }
  VLOG(L"start downloader. bug getting player url");
  defaultUrlTimer_.start(platform::scaledWaitMs("defaultUrlTick", kDefaultUrlTickMs),
                         new FunctionRunable([this] { defaultAddressTick(); }));
}

void BXDownloaderModel::defaultAddressTick() {
  ++defaultAddressTicks;
  if (defaultAddressTicks < kTicksToWaitForAddress && getPlayerAddress().url.empty()) return;
  stopUrlThread();
  PlayerAddress address = getPlayerAddress();
  if (address.url.empty() || address.urlSpare.empty()) {
    address.url = ConfigImp::getInstance()->getDefaultInstallerUrl();
    address.urlSpare = address.url;
  }
  // A resolution stopped before its end left no version: the file is named
  // after the moment, as a resolution without an answer names it, and never
  // "zkinst_.exe", which an older run may have left behind.
  if (address.version.empty()) address.version = std::to_wstring(platform::tickCount());
  setPlayerAddress(address);
  realDownloadPlayer();
  defaultUrlTimer_.kill();
}

void BXDownloaderModel::realDownloadPlayer() {
  ConfigImp* config = ConfigImp::getInstance();
  std::wstring target = config->getDownloadFilePath(installPath_, getPlayerAddress().version);
  if (!utility::ufile::isExist(target)) {
    const std::wstring cached = readCacheRecord();
    if (!cached.empty() &&
        utility::ufile::getFileName(cached, true) == utility::ufile::getFileName(target, true)) {
      config->packagePath = cached;
      target = cached;
      VLOG(L"from cache path %ls", cached.c_str());
    }
  }
  if (utility::ufile::isExist(target)) {
    VLOG(L"installer has downloaded");
    if (checkInstallerSignature(target)) {
      VLOG(L"file sign ok");
      if (notify.onDownloadSucceeded) notify.onDownloadSucceeded();
      report::reportEvent(report::key::kDownloadSuccess, report::Flush::Yes);
      return;
    }
  }
  downloadThread_.stop(INFINITE);
  downloadThread_.start(new MemberFuncRunable(this, &BXDownloaderModel::_threadDownloadPlayerByIE));
}

void BXDownloaderModel::_threadDownloadPlayerByIE() {
  VLOG(L"_threadDownloadPlayer by ie");
  if (!utility::ufile::isExist(installPath_)) utility::ufile::makeDir(installPath_);
  lastProgressTick_ = 0;
  if (!platform::isConnected()) downloadThread_.waitWake(kNoConnectionPauseMs);

  const std::wstring target =
      ConfigImp::getInstance()->getDownloadFilePath(installPath_, getPlayerAddress().version);
  const std::uint32_t start = platform::tickCount();
  const bool ok = _downloadByUrl(target);
  const std::uint32_t elapsed = platform::tickCount() - start;
  if (ok && !downloadStopping()) finishVerifiedDownload(target);
  VLOG(L"ie download finished, success = %d, elapse = %d", ok ? 1 : 0,
       roundedElapsedSeconds(elapsed));
  if (ok || downloadStopping()) return;
  downloadByCurl(target, getPlayerAddress().url);
}

bool BXDownloaderModel::_downloadByUrl(const std::wstring& target) {
  lastProgressTick_ = 0;
  const PlayerAddress address = getPlayerAddress();
  VLOG(L"start download player playerurl is %ls", address.url.c_str());
  const std::wstring temporary = target + kTemporarySuffix;
  if (!primaryDownloader_.download2file(address.url, temporary, this, true)) {
    VLOG(L"download 1 error");
    if (downloadStopping()) return false;
    VLOG(L"start download player 2 playerurl is %ls", address.urlSpare.c_str());
    if (!spareDownloader_.download2file(address.urlSpare, temporary, this, true)) {
      VLOG(L"download 2 error");
      return false;
    }
  }
  // A file that cannot be put in place is a failed download, not a success
  // that the installation step would find missing.
  if (!utility::ufile::moveFile(temporary, target, kMoveFlags)) return false;
  VLOG(L"download file success file = %ls", target.c_str());
  return true;
}

void BXDownloaderModel::downloadByCurl(const std::wstring& target, const std::wstring& url) {
  VLOG(L"download player by curl");
  ZKCurlDownloader curl(&downloadCancel_);
  const bool ok = curl.downloadFile(
      target, utility::ustring::wideToAnsi(url), [this](int, double received, double total) {
        postProgress(static_cast<std::int64_t>(received), static_cast<std::int64_t>(total));
      });
  VLOG(L"download player by curl end. ret :%d", ok ? 1 : 0);
  if (downloadStopping()) return;
  if (!ok) {
    postDownloadOutcome(false);
    return;
  }
  std::uint64_t size = 0;
  if (!utility::ufile::getFileSize(target, size)) size = 0;
  if (size < kSmallestInstaller) {
    VLOG(L"package too small");
    utility::ufile::moveFile(target, target + kTooSmallSuffix, kMoveFlags);
    postDownloadOutcome(false);
    return;
  }
  finishVerifiedDownload(target);
}

void BXDownloaderModel::finishVerifiedDownload(const std::wstring& target) {
  if (checkInstallerSignature(target)) {
    postDownloadOutcome(true);
    return;
  }
  VLOG(L"downloaded installer failed the signature check, moved aside: %ls", target.c_str());
  utility::ufile::moveFile(target, target + kUnsignedSuffix, kMoveFlags);
  report::reportFailure(report::key::kDownloadFail, report::reason::kSignatureError);
  postDownloadOutcome(false);
}

void BXDownloaderModel::postDownloadOutcome(bool succeeded) {
  postToUi([this, succeeded] {
    const auto& slot = succeeded ? notify.onDownloadSucceeded : notify.onDownloadFailed;
    if (slot) slot();
  });
}

bool BXDownloaderModel::downloadStopping() const {
  return downloadCancel_.load() || downloadThread_.isStopping();
}

bool BXDownloaderModel::onDownloadProgress(const char*, std::uint32_t, std::int64_t received,
                                           std::int64_t total) {
  // Only a stop of the download ends a transfer here (teardown); progress
  // itself never does.
  if (downloadStopping()) return false;
  const std::uint32_t now = platform::tickCount();
  if (now - lastProgressTick_ < kProgressIntervalMs) return true;
  lastProgressTick_ = now;
  postProgress(received, total);
  return true;
}

void BXDownloaderModel::postProgress(std::int64_t received, std::int64_t total) {
  postToUi([this, received, total] {
    downloadPercent_ = percentOf(received, total);
    if (notify.onDownloadProgress) {
      notify.onDownloadProgress(downloadPercent_, low32(received), low32(total));
    }
  });
}
