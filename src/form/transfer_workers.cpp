#include "form/transfer_workers.h"

#include "form/form1.h"
#include "transfer/daily_upload.h"
#include "transfer/nfe_export.h"
#include "transfer/self_update.h"

namespace dovra {

ErpAccess erpAccess(TForm1& form) {
  return [&form]() -> ErpConnections& { return form.erp(); };
}

void installTransferWorkers(TForm1& form) {
  form.launcher().setBody(WorkerKind::TFTP, [&form](const RunSettings& settings) {
    TFTP(form.workerContext(), erpAccess(form), form.IdFTP1, settings).Execute();
  });
  form.launcher().setBody(WorkerKind::TXML, [&form](const RunSettings& settings) {
    TXML(form.workerContext(), erpAccess(form), form.IdFTPNFE, settings).Execute();
  });
  form.setSelfUpdate([&form] {
    checkForUpdate(form.workerContext(), form.IdFTP1, [&form] { form.Sair1Click(); });
  });
}

}  // namespace dovra
