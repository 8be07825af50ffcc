#include "gui/qt_dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace dovra {
namespace {
QString q(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}
}  // namespace

QStringList qtNameFilters(const std::string& filter) {
  const QStringList parts = q(filter).split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString pattern = parts[i + 1];
    if (pattern == "*.*") pattern = "*";
    out << parts[i] + " (" + pattern.replace(';', ' ') + ")";
  }
  return out;
}

MessageAnswer QtDialogs::messageBox(const std::string& caption, const std::string& text,
                                    MessageIcon icon, MessageButtons buttons) {
  QMessageBox box;
  box.setWindowTitle(q(caption));
  box.setText(q(text).replace('\r', '\n'));
  switch (icon) {
    case MessageIcon::Error:
      box.setIcon(QMessageBox::Critical);
      break;
    case MessageIcon::Exclamation:
      box.setIcon(QMessageBox::Warning);
      break;
    case MessageIcon::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case MessageIcon::Question:
      box.setIcon(QMessageBox::Question);
      break;
    case MessageIcon::None:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }
  if (buttons == MessageButtons::YesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return MessageAnswer::Ok;
}

std::optional<std::string> QtDialogs::openFile(const FileDialogOptions& options) {
  QFileDialog dialog(nullptr, q(options.title));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);  // the chosen file need not exist
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilters(qtNameFilters(options.filter));
  dialog.selectFile(q(options.fileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first().toUtf8().toStdString();
}

std::optional<std::string> QtDialogs::browseFolder(const std::string& title) {
  const QString dir = QFileDialog::getExistingDirectory(nullptr, q(title));
  if (dir.isEmpty()) return std::nullopt;
  return dir.toUtf8().toStdString();
}

}  // namespace dovra
