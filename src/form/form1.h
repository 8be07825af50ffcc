// TForm1: the main window object of the program, the composition root of the core.
//
// It owns RunState, the window and tray model, the three timers, the instance guard and
// the scheduler, and it carries every handler of the window, the tray and the menu under
// the name the program gives it. Front ends only render the model and forward the
// operator's actions here, by name, through runHandler(). Everything here runs on the main
// thread; workers reach the window only through the model.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backup/archive_verification.h"
#include "backup/backup_pass.h"
#include "core/dialogs.h"
#include "core/identifier_file.h"
#include "core/run_state.h"
#include "core/window_model.h"
#include "core/worker_context.h"
#include "firebird/erp_connections.h"
#include "firebird/ib_service.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/instance_lock.h"
#include "scheduler/scheduler.h"
#include "scheduler/worker_launcher.h"
#include "transfer/ftp_session.h"

namespace dovra {

class TForm1 {
 public:
  static constexpr const char* kApplicationTitle = "BackUpDovra";
  static constexpr int32_t kProgramVersion = 13;

  TForm1(EventLoop& loop, Dialogs& dialogs, const Clock& clock);
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Creation of the window: reads the installation identifier, takes the single-instance
  // guard and switches the scheduler on. A second instance ends the loop with status 2.
  void FormCreate();

  // Runs the handler called `name` as a click would, when the command table
  // (core/window_layout.h) has it and says it is reachable now (menu entries once the menu
  // is attached and the entry visible, hidden buttons once shown, the settings page once
  // revealed). A failure the handler does not catch goes to the general error report.
  // Returns false when no such handler exists or it is unreachable.
  bool runHandler(const std::string& name);
  bool hasHandler(const std::string& name) const { return handlers_.count(name) != 0; }
  std::vector<std::string> handlerNames() const;
  bool handlerReachable(const std::string& name) const;

  // The general error report: an error box titled with the application title, the text
  // with a period added when it does not end with one.
  void reportError(const std::string& message);
  // Runs `body`, sending any failure to the general error report.
  void guarded(const std::function<void()>& body);

  // SIGTERM/SIGINT: the exit sequence, then the end of the loop whatever happened.
  void terminateBySignal();

  // Ends the program with `code` once the current handler returns.
  void terminate(int code);

  RunState& state() { return state_; }
  WindowModel& window() { return window_; }
  Dialogs& dialogs() { return dialogs_; }
  const Clock& clock() const { return clock_; }
  EventLoop& loop() { return loop_; }
  ThreadWorkerLauncher& launcher() { return launcher_; }
  Scheduler& scheduler() { return scheduler_; }
  // What the workers reach of the window (core/worker_context.h).
  WorkerContext workerContext() { return {state_, window_, clock_, loop_}; }

  Timer timerInicia;  // 2 s, on from the start, runs the start sequence once
  Timer Timer1;       // 50 s scheduler tick, off until FormCreate or the start sequence
  Timer Timer3;       // 30 s, on from the start, self-update check once

  // Timers
  void timerIniciaTimer();
  void Timer1Timer();
  void Timer3Timer();

  // Tray and menu
  void CoolTrayIcon1Click();
  void CoolTrayIcon1DblClick();
  void Mostrar1Click();
  void Pararservico1Click();
  void Sair1Click();
  // Main window
  void SpeedButton5Click();
  void MemoBackupDblClick();
  void Label8DblClick();
  void SpeedButton3Click();
  void SpeedButton4Click();
  void SpeedButton12Click();
  // Settings page
  void TabSheet3Show();
  void MaskEdit1Exit();
  void MaskEdit2Exit();
  void MaskEdit3Exit();
  void rbLocalExit();
  void rbRemotoExit();
  void SpeedButton6Click();
  void SpeedButton1Click();
  void SpeedButton8Click();
  void SpeedButton7Click();
  void SpeedButton2Click();
  void SpeedButton9Click();
  void SpeedButton13Click();
  // Unpack page and restore dialogue (archive/unpack_page.h, archive/restore_dialogue.h)
  void SpeedButton10Click();
  void SpeedButton11Click();
  void DecompressionProgress(uint64_t position);
  int64_t CurrentEntrySize = 0;  // uncompressed size of the entry being unpacked

  void showMainWindow();
  void hideMainWindow();

  // Backups
  void spbBackupClick();
  void BackUpManual1Click() { spbBackupClick(); }
  void Atualizardata1Click();
  // The progress event of the compressor: every few seconds, while a backup runs, a
  // balloon says that files are being copied. Any thread.
  void CompressionProgress();

  // The ERP database objects, made on first use (loading the client library, whose
  // absence is reported by the caller's error path). Any thread.
  ErpConnections& erp();
  // The service connections of the main thread: the manual backup's, made for one run,
  // and the restore's `IBRestoreService1`, made on first use. Main thread.
  std::unique_ptr<TIBBackupService> manualBackupService;
  TIBRestoreService& IBRestoreService1();
  // How the manual backup packs its files into the manual folder. Main thread.
  BackupPacking manualPacking;

  // The FTP sessions: IdFTP1 (daily upload, self-update) and IdFTPNFE (NF-e export).
  TIdFTP IdFTP1;
  TIdFTP IdFTPNFE;

  // The archives whose check was started in this run (backup/archive_verification.h).
  VerificationMemory verification;

  // The self-update check run by Timer3 and the "Atualiza" button.
  void setSelfUpdate(std::function<void()> check) { selfUpdate_ = std::move(check); }

 private:
  void registerHandlers();
  void writeSetting(const std::string& section, const std::string& key, const std::string& value);
  void maskEditExit(const std::string& edit, const std::string& key);
  void pickFolder(const std::string& prompt, const std::string& edit, const std::string& key);
  void clearFolder(const std::string& edit, const std::string& key);
  void runStartSequence();
  void reportFullDisk();
  // Step by step after the settings: the main database (retried every 2 s without holding
  // the main thread; a client library that cannot be loaded ends the program with its
  // message instead), the company, the estimate, the NF-e database, the scheduler.
  void connectMainDatabase();
  void closeServicesAndDatabases();
  void continueStartSequence();
  void restoreDialogue();

  EventLoop& loop_;
  Dialogs& dialogs_;
  const Clock& clock_;
  RunState state_;
  WindowModel window_;
  ThreadWorkerLauncher launcher_;
  Scheduler scheduler_;
  std::unique_ptr<InstanceLock> instanceLock_;
  std::map<std::string, std::function<void()>> handlers_;
  std::function<void()> selfUpdate_;
  std::mutex erpMutex_;
  std::unique_ptr<ErpConnections> erp_;
  std::unique_ptr<TIBRestoreService> restoreService_;
  std::thread connectAttempt_;
  Timer connectRetry_;
};

}  // namespace dovra
