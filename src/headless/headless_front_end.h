// The console front end: every tray and window event goes out as one JSON object per line
// on an output stream; handler names, queued dialog answers and control edits come in as
// lines on an input stream and run on the main thread, as clicks would.
//
// Input lines:
//   <HandlerName>        runs that handler (e.g. spbBackupClick, Sair1Click)
//   answer <X>           queues the answer of the next dialog: yes, no, ok, cancel, or a
//                        path for a file or folder dialog
//   set <Edit> <text>    types text into an edit, as the operator: only the time edits
//                        (MaskEdit1..3) take it; into another edit (the disabled Edit3,
//                        the read-only folder edits) it changes nothing and the answer is
//                        {"event":"ignored","edit":<Edit>,"reason":"disabled|read-only"}
//   check <Radio>        selects rbLocal or rbRemoto
// A dialog with no queued answer takes cancel/no/ok and says so ("queued":false).
//
// Run outcomes go out as events of their own, for an administrator reading the journal:
//   {"event":"backup","state":"started","kind":"automatic|manual"}
//   {"event":"backup","state":"done","kind":…,"archive":…,"bytes":N}
//   {"event":"backup","state":"failed","kind":…,"error":"erro: …"[,"log":…]}
//   {"event":"upload","state":"done","archive":…,"bytes":N,"remote":…}
//   {"event":"upload","state":"failed","archive":…[,"bytes":N],"error":…}
//   {"event":"export","documents":N}
// "log" is there only when a log file was written; "bytes" only when the size is known.
#pragma once

#include <cstdio>
#include <deque>
#include <mutex>
#include <string>

#include "core/dialogs.h"
#include "core/window_model.h"

namespace dovra {

class TForm1;

class HeadlessFrontEnd final : public UiObserver, public Dialogs {
 public:
  explicit HeadlessFrontEnd(std::FILE* out);
  void attach(TForm1& form);

  // UiObserver
  void onUiEvent(const UiEvent& event) override;
  void onRunReport(const RunReport& report) override;
  // Dialogs
  MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                           MessageButtons buttons) override;
  std::optional<std::string> openFile(const FileDialogOptions& options) override;
  std::optional<std::string> browseFolder(const std::string& title) override;

  // One input line. Main thread.
  void handleLine(const std::string& line);
  // Writes one event line (thread-safe).
  void writeLine(const std::string& json);
  void writeExit(int code);

 private:
  std::optional<std::string> takeAnswer();
  std::optional<std::string> fileAnswer(const char* kind, const std::string& title,
                                        const std::string& fileName);

  std::FILE* out_;
  std::mutex outMutex_;
  TForm1* form_ = nullptr;
  std::deque<std::string> answers_;  // main thread
};

}  // namespace dovra
