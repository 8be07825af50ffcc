// The manual backup (`spbBackupClick`, also the tray menu's "BackUp manual"): both
// databases into time-stamped backup files with a progress gauge and balloons, the files
// packed into the manual folder (and the extra folder), the backup recorded in the ERP
// database. Runs on the main thread and lets the window process its pending messages while
// the server works.
#include <atomic>
#include <memory>

#include "archive/archive_writer.h"
#include "backup/backup_pass.h"
#include "backup/packing_thread.h"
#include "core/run_report.h"
#include "core/settings_store.h"
#include "firebird/erp_statements.h"
#include "form/form1.h"
#include "platform/paths.h"
#include "platform/trim.h"

namespace dovra {
namespace {

using namespace settings_keys;

constexpr const char* kBoxCaption = "BackUp Dovra ";  // with its trailing blank

}  // namespace

void TForm1::reportFullDisk() {
  window_.setLabel("lbStatus", "Espaço em disco esgotado");
  showBackupFailureBalloon(window_, true);
  dialogs_.messageBox(kBoxCaption, "Erro ao efetuar backUp, espaço em disco esgotado!",
                      MessageIcon::Error, MessageButtons::Ok);
}

void TForm1::spbBackupClick() {
  if (state_.BackupRunning) return;

  std::string manualFolder, extraFolder;
  try {
    const ProfileFile file = settingsFile(state_.InstallationId);
    if (file.sectionExists(kBackup)) {
      manualFolder = trimText(file.readString(kBackup, kCaminhoBkpManual));
      extraFolder = trimText(file.readString(kBackup, kCaminhoBkpManual2));
    }
  } catch (...) {
    // Values not read stay empty.
  }

  if (manualFolder.empty()) {
    const auto chosen = dialogs_.browseFolder("Selecionar a pasta para backup");
    if (!chosen) return;
    manualFolder = *chosen + "/";
  }
  if (!directoryExists(manualFolder)) {
    dialogs_.messageBox("BackUp Dovra", "Diretório de backup não foi encontrado!",
                        MessageIcon::None, MessageButtons::Ok);
    return;
  }

  window_.setControlVisible("lbProgresso", true);
  window_.setControlVisible("Gauge1", true);
  window_.setGauge(0, state_.ProgressMaximum);  // a negative estimate counts as 0
  state_.BackupRunning.set(true);
  RunOutcome outcome(window_, {.kind = RunReport::Kind::Backup, .backupKind = "manual"});
  outcome.started();
  window_.showBalloon("BackUp Dovra", "BackUp em andamento", BalloonIcon::Information, 10);
  const std::string stamp = formatBackupStamp(clock_.now());
  window_.setLabel("lbArquivo", "");
  window_.setActivePage("tbsbackup");
  window_.setBusyCursor(true);

  const auto hint = [this](const std::string& outcome) {
    window_.setHint("BackUp Dovra \rEmpresa: " + state_.CompanyText + "\r" + "\r" + outcome +
                    " - Versão: " + std::to_string(state_.ProgramVersion));
  };
  const std::string base = state_.DatabaseBaseName;
  const std::string files[2] = {
      backupFilePath(state_.BackupFolder, base, stamp + ".fbk"),
      backupFilePath(state_.BackupFolder, state_.NfeDatabaseBaseName, stamp + ".fbk")};
  const std::string locations[2] = {state_.DatabasePath, state_.NfeDatabasePath};
  // Backup files that earlier runs could not pack would hold the space this one needs.
  removeManualBackupLeftovers(state_.BackupFolder, {base, state_.NfeDatabaseBaseName});
  const char* progressTexts[2] = {"Arquivos do sistema \rProgresso - ",
                                  "Arquivos NF-e \rProgresso - "};
  bool failed = false;
  std::string lastLog;
  // The error goes into the log, the log beside the backup files, and the run's outcome.
  const auto logFailure = [&](const std::exception& e) {
    const std::string error = std::string("erro: ") + e.what();
    window_.memoAdd("MemoBackup", error);
    try {
      saveMemoLines(window_.memoLines("MemoBackup"), lastLog);
      outcome.fail(error, lastLog);
    } catch (...) {
      // The folder may be the very thing that is full or missing.
      outcome.fail(error);
    }
  };

  // The backup files of the run, packed into the manual folder while the server writes them
  // when it runs on this machine.
  std::vector<int> planned;
  std::vector<std::string> plannedFiles;
  for (int pass = 0; pass < 2; ++pass) {
    if (!locations[pass].empty() && (pass == 0 || state_.NfeEnabled)) {
      planned.push_back(pass);
      plannedFiles.push_back(files[pass]);
    }
  }
  // The packer's progress shows once the server has written every file, as it did when
  // packing came after the backup.
  auto passesOver = std::make_shared<std::atomic<bool>>(false);
  const auto progress = [this, passesOver](const CompressProgress&) {
    if (*passesOver) CompressionProgress();
  };
  const std::string manualArchive = manualFolder + base + stamp + ".zlib";
  std::unique_ptr<PackingThread> packer;
  if (manualPacking.whileWritten && !planned.empty() &&
      writtenOnThisMachine(manualBackupTarget(state_.LocalRemote, state_.DatabasePath))) {
    packer = std::make_unique<PackingThread>(
        plannedFiles, manualArchive, progress, 0, manualPacking.follow,
        [this](const std::string& line) { window_.memoAdd("MemoBackup", line); });
  }
  const auto producerEnd = [&](int pass) -> ProducerEnd* {
    if (!packer) return nullptr;
    for (size_t i = 0; i < planned.size(); ++i) {
      if (planned[i] == pass) return &packer->end(i);
    }
    return nullptr;
  };

  for (int pass = 0; pass < 2; ++pass) {
    if (locations[pass].empty()) continue;
    window_.memoClear("MemoBackup");
    if (pass == 1 && !state_.NfeEnabled) break;
    lastLog = passLogPath(files[pass]);
    ProducerEnd* const end = producerEnd(pass);
    try {
      if (!manualBackupService) manualBackupService = std::make_unique<TIBBackupService>();
      runBackupPass(*manualBackupService, state_.DbUser, state_.DbPassword,
                    manualBackupTarget(state_.LocalRemote, locations[pass]), files[pass],
                    [&](const std::string& line) {
                      if (end) end->alive();
                      window_.memoAdd("MemoBackup", line);
                      if (!isProgressLine(line)) return;
                      const int before = window_.gaugePercent();
                      window_.stepGauge();
                      const int percent = window_.gaugePercent();
                      if (percent != before) {
                        loop_.processEvents();
                        window_.showBalloon("Backup em andamento",
                                            progressTexts[pass] + std::to_string(percent) + "%",
                                            BalloonIcon::Information, 10);
                      }
                    });
      if (end) end->finished();
      window_.memoAdd("MemoBackup", "Copia realizada com sucesso para " + locations[pass]);
      window_.setLabelColor("lbStatus", LabelColor::Highlight);
      window_.setLabel(
          "lbArquivo",
          pass == 0 ? base : window_.labelText("lbArquivo") + ", " + state_.NfeDatabaseBaseName);
    } catch (const std::exception& e) {
      if (end) end->failed(e.what());
      if (loop_.exiting()) return;  // the exit sequence closed the service under the pass
      failed = true;
      logFailure(e);
      window_.setLabel("lbStatus", "Erro - Verificar log na pasta do backup");
      hint("Backup realizado com erro");
      if (isDiskSpaceError(e)) {
        reportFullDisk();
      } else {
        showBackupFailureBalloon(window_, false);
        dialogs_.messageBox(kBoxCaption,
                            "Erro ao efetuar backUp, verifique o log e tente novamente!",
                            MessageIcon::Error, MessageButtons::Ok);
      }
      window_.setLabelColor("lbStatus", LabelColor::Red);
      showMainWindow();
    }
    if (manualBackupService) manualBackupService->Detach();
    window_.setBusyCursor(false);
    if (loop_.exiting()) return;  // the exit sequence ran meanwhile
  }
  *passesOver = true;

  if (failed) {
    window_.setLabelColor("lbStatus", LabelColor::Red);
    window_.showBalloon("BackUp Dovra",
                        "Erro ao efetuar backup, verifique o erro e tente novamente",
                        BalloonIcon::Information, 10);
    window_.setLabel("lbDataHora", formatBackupDateTime(clock_.now()));
    // The backup files of the run stay where they were written.
    window_.setLabel("lbDiretorio", state_.BackupFolder);
  } else {
    window_.setLabel("lbStatus", "Aguarde copiando arquivos", LabelColor::Highlight);
    window_.showBalloon("BackUp Dovra", "Aguarde copiando arquivos", BalloonIcon::Information, 10);
    // The backup files are packed from the folder they were written to.
    std::vector<std::string> pack;
    if (fileExists(files[0])) pack.push_back(files[0]);
    if (state_.NfeEnabled && fileExists(files[1])) pack.push_back(files[1]);
    // The backup is recorded only when the archive it names is complete in the manual folder.
    bool archived = false;
    try {
      if (packer) {
        packer->wait();
        archived = true;
      } else {
        CompressFiles(pack, manualArchive, progress);
        archived = !pack.empty();
      }
      if (!extraFolder.empty()) CompressFiles(pack, extraFolder + base + stamp + ".zlib", progress);
      if (archived) outcome.done(manualFolder + base + stamp + ".zlib");
      window_.setLabel("lbStatus", "Cópia realizada com sucesso");
      dialogs_.messageBox(kBoxCaption, "Cópia realizada com sucesso!", MessageIcon::Information,
                          MessageButtons::Ok);
      window_.setLabelColor("lbStatus", LabelColor::Highlight);
      window_.setLabel("lbDataHora", formatBackupDateTime(clock_.now()));
      window_.setLabel("lbDiretorio", manualFolder);
      window_.showBalloon("BackUp Dovra", "Cópia realizada com sucesso", BalloonIcon::Information,
                          10);
      hint("Backup do dia realizado com sucesso");
    } catch (const std::exception& e) {
      logFailure(e);
      window_.setLabel("lbStatus", "Erro ao copiar os arquivos - Verificar log na pasta do backup");
      if (isDiskSpaceError(e)) {
        reportFullDisk();
      } else {
        dialogs_.messageBox(kBoxCaption,
                            "Erro ao efetuar backUp, verifique o log e tente novamente!",
                            MessageIcon::Error, MessageButtons::Ok);
        showBackupFailureBalloon(window_, false);
      }
      showMainWindow();
      window_.setLabelColor("lbStatus", LabelColor::Red);
      hint("Backup do dia com erros, verifique!");
    }

    if (archived) {
      try {
        ErpConnections& db = erp();
        std::lock_guard lock(db.Banco.lock());
        connectDatabase(db.Banco, state_.DatabasePath, state_.DbUser, state_.DbPassword);
        db.Query1.Close();
        db.Query1.SetSQL(erp::kRecordManualBackup);
        db.Query1.ParamByName("d2").setAsString(base + stamp + ".zlib");
        db.Query1.ExecSQL();
        db.TBanco.Commit();
        db.Banco.Close();
      } catch (const std::exception& e) {
        window_.setLabel("lbStatus", "Data do backup não foi alterada.");
        window_.showBalloon(
            "Erro ao atualizar data do BackUp",
            std::string(e.what()) + "\r" +
                "Data do backup não foi alterada, clique no botão \"Atualizar data\".",
            BalloonIcon::Error, 50);
        window_.setMenuItemVisible("Atualizardata1", true);
      }
    }
  }

  // The run's backup files go whether or not an archive holds them (their logs stay): the
  // packer lets go of them first.
  packer.reset();
  removeBackupFiles(plannedFiles);

  window_.setControlVisible("lbProgresso", false);
  window_.setControlVisible("Gauge1", false);
  window_.memoClear("MemoBackup");
  if (manualBackupService) manualBackupService->Detach();
  manualBackupService.reset();
  state_.BackupRunning.set(false);
  loop_.processEvents();
}

void TForm1::Atualizardata1Click() {
  try {
    ErpConnections& db = erp();
    std::lock_guard lock(db.Banco.lock());
    connectDatabase(db.Banco, state_.DatabasePath, state_.DbUser, state_.DbPassword);
    db.Query1.Close();
    db.Query1.SetSQL(erp::kOverrideBackupDate);
    db.Query1.ExecSQL();
    db.TBanco.Commit();
    db.Banco.Close();
    window_.showBalloon("Backup Dovra", "Data do backup atualizada com sucesso.",
                        BalloonIcon::Error, 50);
    window_.setLabel("lbStatus", "Backup realizado com sucesso.");
  } catch (const std::exception& e) {
    window_.setLabel("lbStatus", "Data do backup não foi alterada.");
    window_.showBalloon("Erro ao atualizar data do BackUp",
                        std::string(e.what()) + "\r" + "Tente novamente.", BalloonIcon::Error, 50);
  }
}

}  // namespace dovra
