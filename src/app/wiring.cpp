#include "app/wiring.h"

#include "shell/form1.h"

namespace dovra {

void wireProgram(TForm1& form) { (void)form; }

}  // namespace dovra
