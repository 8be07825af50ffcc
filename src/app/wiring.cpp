#include "app/wiring.h"

#include "backup/backup_workers.h"
#include "shell/form1.h"
#include "transfer/transfer_workers.h"

namespace dovra {

void wireProgram(TForm1& form) {
  installBackupWorkers(form);
  installTransferWorkers(form);
}

}  // namespace dovra
