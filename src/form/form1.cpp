#include "form/form1.h"

#include <chrono>
#include <thread>

#include "core/cripto.h"
#include "core/window_layout.h"
#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text_codec.h"

namespace dovra {

TForm1::TForm1(EventLoop& loop, Dialogs& dialogs, const Clock& clock)
    : timerInicia(loop, 2000, [this] { guarded([this] { timerIniciaTimer(); }); }),
      Timer1(loop, 50000, [this] { guarded([this] { Timer1Timer(); }); }),
      Timer3(loop, 30000, [this] { guarded([this] { Timer3Timer(); }); }),
      loop_(loop),
      dialogs_(dialogs),
      clock_(clock),
      window_(loop),
      launcher_(state_),
      scheduler_(state_, clock, window_, launcher_),
      connectRetry_(loop, 2000, [this] {
        connectRetry_.setEnabled(false);
        connectMainDatabase();
      }) {
  registerHandlers();
  timerInicia.setEnabled(true);
  Timer3.setEnabled(true);
}

TForm1::~TForm1() {
  if (connectAttempt_.joinable()) connectAttempt_.join();
}

TIBRestoreService& TForm1::IBRestoreService1() {
  if (!restoreService_) restoreService_ = std::make_unique<TIBRestoreService>();
  return *restoreService_;
}

ErpConnections& TForm1::erp() {
  std::lock_guard lock(erpMutex_);
  if (!erp_) erp_ = std::make_unique<ErpConnections>();
  return *erp_;
}

void TForm1::FormCreate() {
  state_.ProgramVersion = kProgramVersion;
  window_.setHint(WindowModel::kStartupHint);
  state_.CompanyText.clear();
  state_.LocalRemote.clear();
  state_.FtpRunning.set(false);
  state_.XmlRunning.set(false);
  state_.InstallationId = "BKPDOVRA";

  std::string raw;
  try {
    raw = readFirstLine(identifierFilePath());
  } catch (const Exception& e) {
    // Start-up goes on as "BKPDOVRA", without the guard and with the scheduler off.
    reportError(e.what());
    return;
  }
  state_.InstallationId = cp1252ToUtf8(cripto(raw, 1));

  InstanceLock::Outcome outcome;
  instanceLock_ = InstanceLock::acquire(state_.InstallationId + "BKPDOVRA", outcome);
  if (outcome == InstanceLock::Outcome::AlreadyHeld) {
    dialogs_.messageBox("Atenção!", "Este programa já está aberto !", MessageIcon::None,
                        MessageButtons::Ok);
    terminate(2);
    return;
  }
  // A guard that cannot be made for another reason is ignored: the program runs without it.
  state_.BackupRunning.set(false);
  window_.setActivePage("tbsbackup");
  Timer1.setEnabled(true);
}

void TForm1::closeServicesAndDatabases() {
  if (manualBackupService) manualBackupService->setActive(false);
  if (restoreService_) restoreService_->setActive(false);
  std::unique_lock guard(erpMutex_);
  if (!erp_) return;
  // A job that holds a connection is left alone: the process ends under it and the server
  // undoes what it had not committed.
  for (IbDatabase* db : {&erp_->Banco, &erp_->banconfe}) {
    std::unique_lock busy(db->lock(), std::try_to_lock);
    if (busy) db->Close();
  }
}

void TForm1::terminate(int code) {
  connectRetry_.setEnabled(false);
  timerInicia.setEnabled(false);
  Timer1.setEnabled(false);
  Timer3.setEnabled(false);
  loop_.exit(code);
}

void TForm1::reportError(const std::string& message) {
  std::string text = message;
  if (text.empty() || text.back() != '.') text += '.';
  dialogs_.messageBox(kApplicationTitle, text, MessageIcon::Error, MessageButtons::Ok);
}

void TForm1::guarded(const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    reportError(e.what());
  }
}

void TForm1::registerHandlers() {
  handlers_ = {
      {"timerIniciaTimer", [this] { timerIniciaTimer(); }},
      {"Timer1Timer", [this] { Timer1Timer(); }},
      {"Timer3Timer", [this] { Timer3Timer(); }},
      {"CoolTrayIcon1Click", [this] { CoolTrayIcon1Click(); }},
      {"CoolTrayIcon1DblClick", [this] { CoolTrayIcon1DblClick(); }},
      {"Mostrar1Click", [this] { Mostrar1Click(); }},
      {"Pararservico1Click", [this] { Pararservico1Click(); }},
      {"Sair1Click", [this] { Sair1Click(); }},
      {"SpeedButton5Click", [this] { SpeedButton5Click(); }},
      {"MemoBackupDblClick", [this] { MemoBackupDblClick(); }},
      {"Label8DblClick", [this] { Label8DblClick(); }},
      {"SpeedButton3Click", [this] { SpeedButton3Click(); }},
      {"SpeedButton4Click", [this] { SpeedButton4Click(); }},
      {"SpeedButton12Click", [this] { SpeedButton12Click(); }},
      {"TabSheet3Show", [this] { TabSheet3Show(); }},
      {"MaskEdit1Exit", [this] { MaskEdit1Exit(); }},
      {"MaskEdit2Exit", [this] { MaskEdit2Exit(); }},
      {"MaskEdit3Exit", [this] { MaskEdit3Exit(); }},
      {"rbLocalExit", [this] { rbLocalExit(); }},
      {"rbRemotoExit", [this] { rbRemotoExit(); }},
      {"SpeedButton6Click", [this] { SpeedButton6Click(); }},
      {"SpeedButton1Click", [this] { SpeedButton1Click(); }},
      {"SpeedButton8Click", [this] { SpeedButton8Click(); }},
      {"SpeedButton7Click", [this] { SpeedButton7Click(); }},
      {"SpeedButton2Click", [this] { SpeedButton2Click(); }},
      {"SpeedButton9Click", [this] { SpeedButton9Click(); }},
      {"SpeedButton13Click", [this] { SpeedButton13Click(); }},
      {"spbBackupClick", [this] { spbBackupClick(); }},
      {"BackUpManual1Click", [this] { BackUpManual1Click(); }},
      {"Atualizardata1Click", [this] { Atualizardata1Click(); }},
      {"SpeedButton10Click", [this] { SpeedButton10Click(); }},
      {"SpeedButton11Click", [this] { SpeedButton11Click(); }},
  };
}

std::vector<std::string> TForm1::handlerNames() const {
  std::vector<std::string> names;
  for (const auto& entry : handlers_) names.push_back(entry.first);
  return names;
}

bool TForm1::handlerReachable(const std::string& name) const {
  const Command* command = findCommand(name);
  if (!command || !hasHandler(name)) return false;
  switch (command->reach) {
    case Reach::ControlShown:
      return window_.controlVisible(command->target);
    case Reach::PageShown:
      return window_.pageVisible(command->target);
    case Reach::MenuEntryShown:
      return window_.menuAttached() && window_.menuItemVisible(command->target);
    case Reach::Always:
      break;
  }
  return true;
}

bool TForm1::runHandler(const std::string& name) {
  const auto it = handlers_.find(name);
  if (it == handlers_.end() || !handlerReachable(name)) return false;
  guarded(it->second);
  return true;
}

void TForm1::Timer1Timer() {
  scheduler_.Timer1Timer();
}

void TForm1::Timer3Timer() {
  Timer3.setEnabled(false);
  if (selfUpdate_) selfUpdate_();
}

void TForm1::CoolTrayIcon1Click() {
  if (window_.waitingForStart()) {
    window_.showBalloon("Backup Dovra", "Aguarde o sistema está sendo inicializado.",
                        BalloonIcon::Warning, 20);
  }
}

void TForm1::CoolTrayIcon1DblClick() {
  if (window_.waitingForStart()) {
    CoolTrayIcon1Click();
  } else {
    showMainWindow();
  }
}

void TForm1::showMainWindow() {
  window_.setWindowVisible(true);
}

void TForm1::hideMainWindow() {
  window_.setWindowVisible(false);
}

void TForm1::Mostrar1Click() {
  showMainWindow();
}

void TForm1::Pararservico1Click() {
  Timer1.setEnabled(false);
}

void TForm1::SpeedButton5Click() {
  hideMainWindow();
}

void TForm1::MemoBackupDblClick() {
  window_.setPageVisible("TabSheet3", true);
}

void TForm1::Label8DblClick() {
  window_.setControlVisible("SpeedButton4", true);
  window_.setControlVisible("SpeedButton3", true);
  window_.setControlVisible("SpeedButton12", true);
}

void TForm1::SpeedButton3Click() {
  Timer1.setEnabled(false);
  if (!state_.FtpRunning) launcher_.start(WorkerKind::TFTP);
}

void TForm1::SpeedButton4Click() {
  Timer1.setEnabled(false);
  if (!state_.BackupRunning) launcher_.start(WorkerKind::Tauto);
}

void TForm1::SpeedButton12Click() {
  Timer3Timer();
}

void TForm1::Sair1Click() {
  Timer1.setEnabled(false);
  Timer3.setEnabled(false);
  connectRetry_.setEnabled(false);
  if (IdFTPNFE.Connected()) {
    IdFTPNFE.CloseSession();
    IdFTPNFE.Abort();
  }
  if (IdFTP1.Connected()) {
    IdFTP1.Abort();
    IdFTP1.CloseSession();
  }
  closeServicesAndDatabases();
  window_.hideBalloon();
  window_.setTrayIconVisible(false);
  hideMainWindow();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  terminate(0);
}

void TForm1::terminateBySignal() {
  try {
    Sair1Click();
  } catch (...) {
    // The process is being stopped: end the loop even when a step of the exit failed.
  }
  if (!loop_.exiting()) terminate(0);
}

}  // namespace dovra
