#include "backup/automatic_backup.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "archive/archive_writer.h"
#include "backup/backup_pass.h"
#include "platform/paths.h"
#include "shell/form1.h"
#include "shell/run_report.h"

namespace dovra {
namespace {
constexpr const char* kSuffix = "_AUTO.fbk";
}  // namespace

void Tauto::Execute() {
  RunState& state = form_.state();
  WindowModel& w = form_.window();
  state.BackupRunning.set(true);
  // Whatever happens, the run ends with the scheduler on and the flag clear.
  struct EndOfRun {
    TForm1& form;
    ~EndOfRun() {
      TForm1* f = &form;
      form.loop().post([f] { f->Timer1.setEnabled(true); });
      form.state().BackupRunning.set(false);
    }
  } endOfRun{form_};
  RunOutcome outcome(w, {.kind = RunReport::Kind::Backup, .backupKind = "automatic"});
  outcome.started();
  w.setLabel("lbArquivo", "");
  w.setActivePage("tbsbackup");
  w.setBusyCursor(true);

  const std::string files[2] = {backupFilePath(s_.BackupFolder, s_.DatabaseBaseName, kSuffix),
                                backupFilePath(s_.BackupFolder, s_.NfeDatabaseBaseName, kSuffix)};
  const std::string locations[2] = {s_.DatabasePath, s_.NfeDatabasePath};
  std::unique_ptr<TIBBackupService> service;
  std::string lastLog;
  // The passes the run is meant to make, and those whose backup file is complete.
  std::vector<std::string> meant;
  std::vector<std::string> made;

  for (int pass = 0; pass < 2; ++pass) {
    if (locations[pass].empty()) continue;
    w.memoClear("MemoBackup");
    if (pass == 0 || s_.NfeEnabled) meant.push_back(files[pass]);
    try {
      if (!service) service = std::make_unique<TIBBackupService>();
    } catch (const std::exception& e) {
      // No client library: this pass fails like any other.
      w.memoAdd("MemoBackup", std::string("erro: ") + e.what());
      outcome.fail(std::string("erro: ") + e.what());
      w.setLabel("lbStatus", "Erro - Verificar log", LabelColor::Red);
      continue;
    }
    if (pass == 1 && !s_.NfeEnabled) break;
    lastLog = passLogPath(files[pass]);
    try {
      runBackupPass(*service, s_.DbUser, s_.DbPassword,
                    automaticBackupTarget(s_.LocalRemote, locations[pass], s_.BackupFolder),
                    files[pass], [&w](const std::string& line) { w.memoAdd("MemoBackup", line); });
      made.push_back(files[pass]);
      w.memoAdd("MemoBackup", "Copia realizada com sucesso para " + locations[pass]);
      w.setLabel("lbStatus", "Backup realizado com sucesso", LabelColor::Highlight);
      w.setLabel("lbArquivo", pass == 0 ? s_.DatabaseBaseName
                                        : w.labelText("lbArquivo") + ", " + s_.NfeDatabaseBaseName);
    } catch (const std::exception& e) {
      try {
        w.memoAdd("MemoBackup", std::string("erro: ") + e.what());
        saveMemoLines(w.memoLines("MemoBackup"), lastLog);
        outcome.fail(std::string("erro: ") + e.what(), lastLog);
        w.setLabel("lbStatus", "Erro - Verificar log", LabelColor::Red);
      } catch (...) {
        // The log could not be written: the run goes on.
        outcome.fail(std::string("erro: ") + e.what());
      }
    }
    service->Detach();
    w.setBusyCursor(false);
  }

  // The archive replaces the previous one only when it holds every database the run was
  // meant to back up; after a failed pass the previous archive stays, and the backup files
  // of the passes that succeeded stay beside it. The backup files are deleted only once the
  // archive that holds them is complete.
  if (!meant.empty() && made == meant) {
    try {
      CompressFiles(
          made, s_.BackupFolder + s_.DatabaseBaseName + ".zlib",
          [this](const CompressProgress&) { form_.CompressionProgress(); }, compressWorkers_);
      for (const std::string& f : made) std::remove(f.c_str());
      outcome.done(s_.BackupFolder + s_.DatabaseBaseName + ".zlib");
    } catch (const std::exception& e) {
      w.memoAdd("MemoBackup", std::string("erro: ") + e.what());
      try {
        saveMemoLines(w.memoLines("MemoBackup"), lastLog);
        outcome.fail(std::string("erro: ") + e.what(), lastLog);
      } catch (...) {
        outcome.fail(std::string("erro: ") + e.what());
      }
      w.setLabel("lbStatus", "Erro - Verificar log", LabelColor::Red);
    }
  }

  w.setLabel("lbDataHora", formatBackupDateTime(form_.clock().now()));
  w.setLabel("lbDiretorio", s_.BackupFolder);
  w.memoClear("MemoBackup");
  service.reset();
}

}  // namespace dovra
