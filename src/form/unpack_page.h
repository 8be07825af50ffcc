// The unpack page ("Descompactar") of the main window: `SpeedButton10Click` chooses a
// ".zlib" archive into `Edit3`; `SpeedButton11Click` unpacks it into the archive's own
// folder and then runs the restore dialogue (restore_dialogue.h). While it unpacks,
// `lbDecompress` shows the entry counter and then "Concluído", and `DecompressionProgress`
// shows the current entry's percentage in `lbStatusDecompres` and lets the window process
// its pending messages. The handlers are members of TForm1; this header holds the helper
// they share with the tests. Main thread only.
//
// An unpacking processes the window's messages, so other handlers run in the middle of
// it. The page's two buttons do nothing while a press of "Descompactar" is still running;
// when the program's exit ran meanwhile, the unpacking completes and no restore is
// offered.
#pragma once

#include <string>
#include <string_view>

namespace dovra {

// The folder an archive is unpacked into: its path up to and including the last "/", "\"
// or ":"; empty (the current folder) when it has none.
std::string archiveFolderPart(std::string_view archivePath);

}  // namespace dovra
