// Completes the main window with the workers, the databases and the transfers.
#pragma once

namespace dovra {

class TForm1;
void wireProgram(TForm1& form);

}  // namespace dovra
