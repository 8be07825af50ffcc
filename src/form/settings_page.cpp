// The settings page ("Configuração"): the schedule times, the local/remote choice, the
// three folders and the start-with-the-desktop entry. Edits go to the settings file at
// once and reach RunState at the next start.
#include <algorithm>

#include "core/settings_store.h"
#include "form/form1.h"
#include "platform/autostart.h"
#include "platform/paths.h"
#include "platform/trim.h"

namespace dovra {
namespace {

using namespace settings_keys;

// A time edit's mask "!90:00;1;_": an optional digit, a digit, the colon, two digits.
// An edit the operator changed must be complete before the focus may leave it.
bool timeEditComplete(const std::string& text) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return text.size() == 5 && (digit(text[0]) || text[0] == ' ') && digit(text[1]) &&
         text[2] == ':' && digit(text[3]) && digit(text[4]);
}

constexpr const char* kInvalidMaskInput = "Invalid input value.  Use escape key to abandon changes";

}  // namespace

void TForm1::writeSetting(const std::string& section, const std::string& key,
                          const std::string& value) {
  settingsFile(state_.InstallationId).writeString(section, key, value);
}

void TForm1::TabSheet3Show() {
  try {
    const ProfileFile file = settingsFile(state_.InstallationId);
    if (file.sectionExists(kBackup)) {
      window_.setEditText("MaskEdit1", file.readString(kBackup, kTempo1));
      window_.setEditText("MaskEdit2", file.readString(kBackup, kTempo2));
      window_.setEditText("MaskEdit3", file.readString(kBackup, kTempo3));
      window_.setEditText("Edit1", file.readString(kBackup, kCaminhoBkpManual));
      window_.setEditText("Edit2", file.readString(kBackup, kEnderecoBackup));
      window_.setEditText("Edit4", file.readString(kBackup, kCaminhoBkpManual2));
    }
    // The radio pair shows the value read at start, not the file's.
    window_.setChecked("rbLocal", state_.LocalRemote == "L");
  } catch (...) {
    // The controls keep what they had.
  }
}

void TForm1::maskEditExit(const std::string& edit, const std::string& key) {
  const std::string text = window_.editText(edit);
  if (window_.editModified(edit) && !timeEditComplete(text)) {
    // The edit refuses to lose the focus; nothing is written.
    dialogs_.messageBox(kApplicationTitle, kInvalidMaskInput, MessageIcon::Error,
                        MessageButtons::Ok);
    return;
  }
  writeSetting(kBackup, key, text);
  // Accepted: the written text is the one Escape returns to.
  window_.setEditText(edit, text);
}

void TForm1::MaskEdit1Exit() {
  maskEditExit("MaskEdit1", kTempo1);
}
void TForm1::MaskEdit2Exit() {
  maskEditExit("MaskEdit2", kTempo2);
}

void TForm1::MaskEdit3Exit() {
  if (window_.editText("MaskEdit3") == "00:00") {
    window_.setEditText("MaskEdit3", "");
    writeSetting(kBackup, kTempo3, "");
    return;
  }
  maskEditExit("MaskEdit3", kTempo3);
}

void TForm1::rbLocalExit() {
  writeSetting(kBackup, kLocalRemoto, window_.checked("rbLocal") ? "L" : "R");
}
void TForm1::rbRemotoExit() {
  rbLocalExit();
}

void TForm1::pickFolder(const std::string& prompt, const std::string& edit,
                        const std::string& key) {
  const auto chosen =
      dialogs_.openFile({.title = prompt, .fileName = prompt, .filter = "ALL files|*.*"});
  if (!chosen) return;
  const std::string folder = directoryPart(*chosen);
  if (directoryExists(folder)) {
    window_.setEditText(edit, folder);
    writeSetting(kBackup, key, trimText(window_.editText(edit)));
  } else {
    dialogs_.messageBox("BackUp Dovra Informática", "Pasta inválida!", MessageIcon::Error,
                        MessageButtons::Ok);
    window_.setEditText(edit, "");
  }
}

void TForm1::SpeedButton6Click() {
  pickFolder("Selecione a pasta para backup manual", "Edit1", kCaminhoBkpManual);
}
void TForm1::SpeedButton1Click() {
  pickFolder("Selecione a pasta para backup extra", "Edit4", kCaminhoBkpManual2);
}
void TForm1::SpeedButton8Click() {
  pickFolder("Selecione a pasta para backup automático", "Edit2", kEnderecoBackup);
}

void TForm1::clearFolder(const std::string& edit, const std::string& key) {
  writeSetting(kBackup, key, "");
  window_.setEditText(edit, "");
}

void TForm1::SpeedButton7Click() {
  clearFolder("Edit1", kCaminhoBkpManual);
}
void TForm1::SpeedButton2Click() {
  clearFolder("Edit4", kCaminhoBkpManual2);
}
void TForm1::SpeedButton9Click() {
  clearFolder("Edit2", kEnderecoBackup);
}

void TForm1::SpeedButton13Click() {
  writeAutostartEntry("BackUp Dovra", executablePath());
}

}  // namespace dovra
