#include "app/wiring.h"

#include "form/backup_workers.h"
#include "form/form1.h"
#include "form/transfer_workers.h"

namespace dovra {

void wireProgram(TForm1& form) {
  installBackupWorkers(form);
  installTransferWorkers(form);
}

}  // namespace dovra
