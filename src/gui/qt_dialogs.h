// Message boxes and file dialogs with Qt. GUI thread only.
#pragma once

#include <QStringList>

#include "core/dialogs.h"

namespace dovra {

class QtDialogs final : public Dialogs {
 public:
  MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageIcon icon,
                           MessageButtons buttons) override;
  std::optional<std::string> openFile(const FileDialogOptions& options) override;
  std::optional<std::string> browseFolder(const std::string& title) override;
};

// "Description|pattern|..." as Qt name filters ("Description (pattern)"); "*.*" means any.
QStringList qtNameFilters(const std::string& filter);

}  // namespace dovra
