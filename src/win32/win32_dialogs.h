// Message boxes (MessageBoxW), the file-open dialog (GetOpenFileNameW) and the folder
// browser (SHBrowseForFolderW). Main thread only; each call runs the dialog's own modal
// loop, which keeps dispatching the main loop's tasks and timers.
#pragma once

#include <windows.h>

#include <string>

#include "core/dialogs.h"

namespace dovra {

class Win32Dialogs final : public Dialogs {
 public:
  // The dialogs belong to `owner` while it is visible (they then sit over it and block
  // it); with the owner hidden they stand alone, brought to the foreground.
  void setOwner(HWND owner) { owner_ = owner; }

  MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                           MessageButtons buttons) override;
  std::optional<std::string> openFile(const FileDialogOptions& options) override;
  std::optional<std::string> browseFolder(const std::string& title) override;

 private:
  HWND owner() const;
  HWND owner_ = nullptr;
};

// The message box style for an icon kind and a button set.
UINT messageBoxStyle(MessageIcon icon, MessageButtons buttons);
// "Description|pattern|..." as an open-dialog filter: the same pairs, each part ended by
// a zero, the whole ended by a second zero.
std::wstring openDialogFilter(const std::string& filter);
// A folder path as the dialogs return it: without a trailing separator ("C:\" is "C:").
std::string withoutTrailingSeparator(std::string path);

}  // namespace dovra
