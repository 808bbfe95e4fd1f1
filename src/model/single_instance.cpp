#include "config/installer_contract.h"
#include "model/bx_downloader_model.h"
#include "utility/log.h"
#include "utility/usystem.h"
#include "utility/window_ipc.h"

bool BXDownloaderModel::popupExistPwnd() {
  utility::usystem::MutexHandle mutex =
      utility::usystem::createNamedMutex(contract::kIpcClassName, false, true);
  if (mutex) {
    instanceMutex_ = std::move(mutex);
    VLOG(L"CCmdLine::popupExistPwnd not exist");
    return false;
  }
  // Another copy holds the name: ask it to show itself. Whether the message
  // arrives is not examined.
  utility::WindowIPC peer;
  peer.open(contract::kIpcClassName);
  peer.post(contract::kMsgWakeUp, 0, 0);
  VLOG(L"BXDownloaderModel::popupExistPwnd exist");
  return true;
}
