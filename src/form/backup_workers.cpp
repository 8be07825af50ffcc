#include "form/backup_workers.h"

#include "backup/archive_verification.h"
#include "form/form1.h"

namespace dovra {

AutoBackupHooks autoBackupHooks(TForm1& form) {
  return {.compressionProgress = [&form] { form.CompressionProgress(); },
          .resumeScheduler = [&form] { form.Timer1.setEnabled(true); }};
}

void installBackupWorkers(TForm1& form) {
  form.launcher().setBody(WorkerKind::Tauto, [&form](const RunSettings& settings) {
    Tauto(form.workerContext(), autoBackupHooks(form), settings).Execute();
  });
  form.launcher().setBody(WorkerKind::TVerifica, [&form](const RunSettings& settings) {
    TVerifica(form.window(), settings, form.verification).Execute();
  });
  form.scheduler().setVerificationDue(
      [&form] { return verificationDue(form.state(), form.verification); });
}

}  // namespace dovra
