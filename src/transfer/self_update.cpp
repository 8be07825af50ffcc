#include "transfer/self_update.h"

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "transfer/maker_servers.h"
#include "transfer/version_document.h"

namespace dovra {

namespace {

constexpr int kConnectLimitMs = 5000;
constexpr const char* kUpdater = "Renovador.exe";

}  // namespace

void checkForUpdate(WorkerContext context, TIdFTP& ftp, const std::function<void()>& exitProgram) {
  RunState& state = context.state;
  int32_t latest = state.ProgramVersion;
  try {
    latest = fetchPublishedVersion(webServerBaseUrl() + "/atl/atl_bkp.xml");
  } catch (const std::exception&) {
    // Unreachable server or a bad document: no update in this run.
  }
  if (!(state.ProgramVersion < latest) || state.FtpRunning || state.XmlRunning) return;

  std::unique_lock session(ftp.lock(), std::try_to_lock);
  if (!session.owns_lock()) return;
  ftp.CloseSession();

  const std::string updater = programFolder() + kUpdater;
  try {
    useMakerAccount(ftp, uploadFtpServer());
    ftp.OpenSession(true, kConnectLimitMs);
    ftp.EnterFolder("/");
    ftp.EnterFolder("exe");
    if (fileExists(updater)) removeFile(updater);
    ftp.DownloadFile(kUpdater, updater);
  } catch (const std::exception&) {
    ftp.CloseSession();
    return;
  }
  if (!fileExists(updater)) return;

  context.window.setTrayIconVisible(false);
  if (!startDetached(updater)) {
    context.window.setTrayIconVisible(true);
    return;
  }
  session.unlock();
  exitProgram();
}

}  // namespace dovra
