// Installs the automatic backup worker and the check of its archives into the main
// window's launcher.
#pragma once

#include "backup/automatic_backup.h"

namespace dovra {

class TForm1;
void installBackupWorkers(TForm1& form);

// What the automatic backup reaches of the main window: its compression progress event and
// Timer1, switched back on at the end of a run.
AutoBackupHooks autoBackupHooks(TForm1& form);

}  // namespace dovra
