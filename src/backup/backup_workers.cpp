#include "backup/backup_workers.h"

#include "backup/archive_verification.h"
#include "backup/automatic_backup.h"
#include "shell/form1.h"

namespace dovra {

void installBackupWorkers(TForm1& form) {
  form.launcher().setBody(
      WorkerKind::Tauto, [&form](const RunSettings& settings) { Tauto(form, settings).Execute(); });
  form.launcher().setBody(WorkerKind::TVerifica, [&form](const RunSettings& settings) {
    TVerifica(form.window(), settings, form.verification).Execute();
  });
  form.scheduler().setVerificationDue(
      [&form] { return verificationDue(form.state(), form.verification); });
}

}  // namespace dovra
