#include "app/bx_downloader_impl.h"

#include "app/language_text.h"
#include "config/config_imp.h"
#include "config/installer_contract.h"
#include "model/bx_downloader_model.h"
#include "platform/event_loop.h"
#include "report/event_reports.h"
#include "report/event_vocabulary.h"
#include "report/zk_reporter.h"
#include "utility/log.h"
#include "utility/ufile.h"
#include "utility/usystem.h"

namespace {

constexpr int kEditionVireo9 = 3;
constexpr int kEditionVireo5x64 = 5;

const wchar_t* const kOldWindowsNotice =
    L"此软件版本与正在运行的windows版本不兼容\r\n请更新为windows 7以上版本后重新安装";
const wchar_t* const k32BitNotice = L"当前模拟器不兼容 32 位操作系统，请下载兼容版本";
const wchar_t* const kInstallErrorContent =
    L"<f 0><n>创建文件失败，请尝试按下面顺序修复：<n><c #666666>1、重启电脑<n>2、退360等安全软件<n>"
    L"3、更换安装目录再次安装模拟器</c></f>";

void quitLoop() { platform::postQuitMessage(0); }

}  // namespace

BXDownloaderImpl::~BXDownloaderImpl() = default;

bool BXDownloaderImpl::entrance() {
  BXDownloaderModel* model = BXDownloaderModel::getInstance();
  if (model->popupExistPwnd()) {
    VLOG(L"It's exist");
    return false;
  }
  VLOG(L"player path is %ls", utility::ufile::getModuleDir().c_str());
  showMainFrame();
  ipc_.create(contract::kIpcClassName, this);
  report::reportEvent(report::key::kStartDownload);
  return true;
}

void BXDownloaderImpl::showMainFrame() {
  VLOG(L"player, create main window...");
  if (!mainFrame_) mainFrame_ = createMainFrame(*BXDownloaderModel::getInstance());
  if (!mainFrame_) return;
  mainFrame_->show();
  applyVersionGate();
}

void BXDownloaderImpl::applyVersionGate() {
  if (!utility::usystem::isVistaOrLater()) {
    MessageBoxSpec notice;
    notice.title = L"提示";
    notice.content = kOldWindowsNotice;
    notice.buttons.push_back({L"确定", true, [this] { quitForOldWindows(); }});
    mainFrame_->showMessageBox(std::move(notice));
    return;
  }
  if (utility::usystem::is64BitOS()) return;
  VLOG(L"32 system!!!");
  int edition = ConfigImp::getInstance()->edition;
  if (edition != kEditionVireo5x64 && edition != kEditionVireo9) return;
  MessageBoxSpec notice;
  notice.title = L"提示";
  notice.content = k32BitNotice;
  notice.buttons.push_back({L"退出", false, [this] { quitFor32BitWindows(); }});
  notice.buttons.push_back({L"立即下载", true, [this] { mainFrame_->showTo32PlayerFrame(); }});
  notice.closeAction = quitLoop;
  mainFrame_->showMessageBox(std::move(notice));
}

void BXDownloaderImpl::quitForOldWindows() {
  report::reportCancel(report::reason::kWinXp, report::Flush::Yes);
  if (mainFrame_) mainFrame_->close(1);
}

void BXDownloaderImpl::quitFor32BitWindows() {
  report::reportCancel(report::reason::kWin32, report::Flush::Yes);
  if (mainFrame_) mainFrame_->close(1);
}

int BXDownloaderImpl::onHandleWindowIPC(unsigned int message, WPARAM wParam, LPARAM lParam) {
  VLOG(L"onHandleWindowIPC, msg = %d", static_cast<int>(message));
  switch (message) {
    case contract::kMsgWakeUp:
      showMainFrame();
      break;
    case contract::kMsgInstallError:
      onInstallError(static_cast<int>(static_cast<std::int32_t>(wParam)));
      break;
    case contract::kMsgInstallSucceeded:
      VLOG(L"install sucess");
      report::reportEvent(report::key::kCompleteInstall, report::Flush::Yes);
      break;
    case contract::kMsgInstallProgress:
      VLOG(L"install progress: %d", static_cast<int>(wParam));
      break;
    default:
      break;
  }
  return 0;
}

void BXDownloaderImpl::onInstallError(int code) {
  VLOG(L"install error %d", code);
  VLOG(L"player install error! %d", code);
  report::reportInstallError(static_cast<WPARAM>(static_cast<std::uint32_t>(code)));
  if (!mainFrame_) return;
  MessageBoxSpec box;
  box.title = getLanguageText(L"error");
  box.content = kInstallErrorContent;
  box.buttons.push_back({getLanguageText(L"cancel"), false, [this] { mainFrame_->close(1); }});
  box.buttons.push_back({getLanguageText(L"view_help"), true, [this] {
                           utility::usystem::openUrl(getLanguageText(L"link_install_error_help"));
                           mainFrame_->close(1);
                         }});
  box.closeAction = quitLoop;
  mainFrame_->showMessageBox(std::move(box));
  mainFrame_->markInstallError();
}
