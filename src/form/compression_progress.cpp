// The compressor's progress event as the operator sees it.
#include "form/form1.h"

namespace dovra {

void TForm1::CompressionProgress() {
  const int units = clock_.now().second % 10;
  if ((units == 5 || units == 0) && state_.BackupRunning) {
    window_.showBalloon("BackUp Dovra", "Aguarde copiando arquivos", BalloonIcon::Information, 10);
  }
}

}  // namespace dovra
