#include "transfer/transfer_workers.h"

#include "shell/form1.h"
#include "transfer/daily_upload.h"
#include "transfer/nfe_export.h"
#include "transfer/self_update.h"

namespace dovra {

void installTransferWorkers(TForm1& form) {
  form.launcher().setBody(WorkerKind::TFTP,
                          [&form](const RunSettings& settings) { TFTP(form, settings).Execute(); });
  form.launcher().setBody(WorkerKind::TXML,
                          [&form](const RunSettings& settings) { TXML(form, settings).Execute(); });
  form.setSelfUpdate([&form] { checkForUpdate(form); });
}

}  // namespace dovra
