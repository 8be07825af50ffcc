// Modal dialogs of the main window: message boxes, the file-open dialog (also used as a
// folder picker) and the folder-browse dialog. Implemented by the front ends; called on the
// main thread only. A front end keeps its loop running while a dialog is open, so timers
// may fire meanwhile, as they do behind a modal box.
#pragma once

#include <optional>
#include <string>

namespace dovra {

enum class MessageIcon { None, Error, Exclamation, Information, Question };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No, Cancel };

struct FileDialogOptions {
  std::string title;
  std::string fileName;  // pre-filled name
  std::string filter;    // "Description|pattern" pairs joined by "|"
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual MessageAnswer messageBox(const std::string& caption, const std::string& text,
                                   MessageIcon icon, MessageButtons buttons) = 0;
  // The chosen file's full path, or nothing when cancelled. The file need not exist.
  virtual std::optional<std::string> openFile(const FileDialogOptions& options) = 0;
  // The chosen folder (without a trailing separator), or nothing when cancelled.
  virtual std::optional<std::string> browseFolder(const std::string& title) = 0;
};

}  // namespace dovra
