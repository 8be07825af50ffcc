// Installs the transfer jobs into the main window: the bodies of the TFTP (daily upload)
// and TXML (NF-e export) workers and the self-update check run by Timer3 and the
// "Atualiza" button. Main thread, once, before the scheduler's first tick; the form must
// outlive every worker it starts.
#pragma once

#include "firebird/erp_connections.h"

namespace dovra {

class TForm1;

void installTransferWorkers(TForm1& form);

// The workers' way to the main window's ERP connections.
ErpAccess erpAccess(TForm1& form);

}  // namespace dovra
