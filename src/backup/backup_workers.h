// Installs the automatic backup worker and the check of its archives into the main
// window's launcher.
#pragma once

namespace dovra {

class TForm1;
void installBackupWorkers(TForm1& form);

}  // namespace dovra
