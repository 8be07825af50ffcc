#include "backup/backup_workers.h"

#include "backup/automatic_backup.h"
#include "shell/form1.h"

namespace dovra {

void installBackupWorkers(TForm1& form) {
  form.launcher().setBody(
      WorkerKind::Tauto, [&form](const RunSettings& settings) { Tauto(form, settings).Execute(); });
}

}  // namespace dovra
