#include "core/window_layout.h"

#include <map>
#include <vector>

namespace dovra {
namespace window_layout {
namespace {

using K = ControlKind;
using T = Trigger;
using namespace look;

constexpr PageLayout kPages[] = {
    {"tbsbackup", "Backup"},
    {"TabSheet3", "Configuração", true, "TabSheet3Show"},
    {"TabSheet4", "Descompactar"},
};

constexpr const char* kBackupPage = "tbsbackup";
constexpr const char* kSettingsPage = "TabSheet3";
constexpr const char* kUnpackPage = "TabSheet4";

// page, name, kind, caption, x, y, w, h, handler, trigger, hidden, looks, color
constexpr ControlLayout kControls[] = {
    // Backup: the last backup, the buttons, the hidden maintenance buttons, the progress
    // and the log.
    {kBackupPage, "GroupBox3", K::Group, " Informações sobre o ultimo BackUp ", 6, 4, 384, 112},
    {kBackupPage, "", K::Caption, "Data/Hora ", 16, 26, 70, 18},
    {kBackupPage, "lbDataHora", K::Label, "", 88, 26, 294, 18, "", T::None, false, kBold},
    {kBackupPage, "", K::Caption, "Diretório ", 16, 48, 70, 18},
    {kBackupPage, "lbDiretorio", K::Label, "", 88, 48, 294, 18, "", T::None, false, kBold},
    {kBackupPage, "", K::Caption, "Arquivo ", 16, 70, 70, 18},
    {kBackupPage, "lbArquivo", K::Label, "", 88, 70, 294, 18, "", T::None, false, kBold},
    {kBackupPage, "", K::Caption, "Status ", 16, 92, 70, 18},
    {kBackupPage, "lbStatus", K::Label, "", 88, 92, 294, 18, "", T::None, false, kBold},
    {kBackupPage, "spbBackup", K::Button, "Backup Manual", 400, 10, 124, 40, "spbBackupClick",
     T::Click},
    {kBackupPage, "SpeedButton5", K::Button, "Sair", 530, 10, 120, 40, "SpeedButton5Click",
     T::Click},
    {kBackupPage, "SpeedButton4", K::Button, "Backup", 400, 56, 78, 24, "SpeedButton4Click",
     T::Click, true},
    {kBackupPage, "SpeedButton3", K::Button, "FTP", 484, 56, 78, 24, "SpeedButton3Click", T::Click,
     true},
    {kBackupPage, "SpeedButton12", K::Button, "Atualiza", 568, 56, 82, 24, "SpeedButton12Click",
     T::Click, true},
    {kBackupPage, "lbProgresso", K::Label, "Progresso", 400, 84, 250, 14, "", T::None, true},
    {kBackupPage, "Gauge1", K::Gauge, "", 400, 99, 250, 16, "", T::None, true},
    {kBackupPage, "Label8", K::Label, "LOG", 8, 120, 30, 16, "Label8DblClick", T::DoubleClick,
     false, kAutoSize},
    {kBackupPage, "MemoBackup", K::Memo, "", 6, 138, 646, 138, "MemoBackupDblClick",
     T::DoubleClick},

    // Settings: the backup times, the place of the database, starting with the system, the
    // three folders and the log of the transfers.
    {kSettingsPage, "", K::Group, " Programar BackUp automático ", 6, 2, 200, 52},
    {kSettingsPage, "", K::Caption, "1º", 14, 26, 18, 18},
    {kSettingsPage, "MaskEdit1", K::TimeEdit, "", 32, 24, 56, 22, "MaskEdit1Exit", T::Exit},
    {kSettingsPage, "", K::Caption, "2º", 106, 26, 18, 18},
    {kSettingsPage, "MaskEdit2", K::TimeEdit, "", 124, 24, 56, 22, "MaskEdit2Exit", T::Exit},
    {kSettingsPage, "", K::Group, " Hora FTP ", 212, 2, 86, 52},
    {kSettingsPage, "MaskEdit3", K::TimeEdit, "", 226, 24, 56, 22, "MaskEdit3Exit", T::Exit},
    {kSettingsPage, "", K::Group, "Local/Remoto", 304, 2, 160, 52},
    {kSettingsPage, "rbLocal", K::Radio, "Local", 314, 26, 64, 20, "rbLocalExit", T::Exit, false,
     kChecked},
    {kSettingsPage, "rbRemoto", K::Radio, "Remoto", 384, 26, 74, 20, "rbRemotoExit", T::Exit},
    {kSettingsPage, "SpeedButton13", K::Button, "Inicia com o Windows", 472, 12, 178, 34,
     "SpeedButton13Click", T::Click},
    {kSettingsPage, "", K::Caption, "Caminho backup manual", 8, 58, 300, 16},
    {kSettingsPage, "Edit1", K::Edit, "", 8, 74, 520, 22, "", T::None, false, kReadOnly},
    {kSettingsPage, "SpeedButton6", K::Button, "...", 532, 74, 30, 22, "SpeedButton6Click",
     T::Click},
    {kSettingsPage, "SpeedButton7", K::Button, "Limpar", 566, 74, 84, 22, "SpeedButton7Click",
     T::Click},
    {kSettingsPage, "", K::Caption, "Cópia extra para (opcional)", 8, 100, 300, 16},
    {kSettingsPage, "Edit4", K::Edit, "", 8, 116, 520, 22, "", T::None, false, kReadOnly},
    {kSettingsPage, "SpeedButton1", K::Button, "...", 532, 116, 30, 22, "SpeedButton1Click",
     T::Click},
    {kSettingsPage, "SpeedButton2", K::Button, "Limpar", 566, 116, 84, 22, "SpeedButton2Click",
     T::Click},
    {kSettingsPage, "", K::Caption, "Caminho backup automático", 8, 142, 300, 16},
    {kSettingsPage, "Edit2", K::Edit, "", 8, 158, 520, 22, "", T::None, false, kReadOnly},
    {kSettingsPage, "SpeedButton8", K::Button, "...", 532, 158, 30, 22, "SpeedButton8Click",
     T::Click},
    {kSettingsPage, "SpeedButton9", K::Button, "Limpar", 566, 158, 84, 22, "SpeedButton9Click",
     T::Click},
    {kSettingsPage, "mLog", K::Memo, "", 6, 186, 646, 90},

    // Unpacking: the archive, the button, what is being unpacked and how far, the restore's
    // log.
    {kUnpackPage, "Label14", K::Label, "Caminho arquivo compactado (zlib)", 8, 8, 300, 16, "",
     T::None, false, kAutoSize},
    {kUnpackPage, "Edit3", K::Edit, "", 8, 26, 560, 22, "", T::None, false, kDisabled},
    {kUnpackPage, "SpeedButton10", K::Button, "", 572, 25, 32, 24, "SpeedButton10Click", T::Click,
     false, kFolderIcon},
    {kUnpackPage, "SpeedButton11", K::Button, "Descompactar", 8, 58, 140, 32, "SpeedButton11Click",
     T::Click},
    {kUnpackPage, "lbDecompress", K::Label, "", 156, 58, 300, 32, "", T::None, false, kLarge,
     LabelColor::Blue},
    {kUnpackPage, "lbStatusDecompres", K::Label, "", 462, 58, 90, 32, "", T::None, false, kLarge,
     LabelColor::Blue},
    {kUnpackPage, "memoRestore", K::Memo, "", 6, 98, 646, 178, "", T::None, true, kNoWrap},
    {kUnpackPage, "Panel1", K::Panel, "", 0, 0, 0, 0, "", T::None, true},
};

constexpr MenuEntryLayout kMenu[] = {
    {"Mostrar1", "Mostrar", "Mostrar1Click"},
    {"BackUpManual1", "BackUp manual", "BackUpManual1Click"},
    {"Pararservico1", "Parar serviço", "Pararservico1Click"},
    {"Atualizardata1", "Atualizar data", "Atualizardata1Click", true},
    {"N1", "-", ""},
    {"Sair1", "Sair", "Sair1Click"},
};

// Handlers of what is not a window control nor a menu entry.
constexpr const char* kAlwaysReachable[] = {
    "timerIniciaTimer", "Timer1Timer", "Timer3Timer", "CoolTrayIcon1Click", "CoolTrayIcon1DblClick",
};

template <typename Entry>
const Entry* findIn(std::span<const Entry> entries, const std::string& name) {
  if (name.empty()) return nullptr;
  // Looked up on every write to the model: an index made once.
  static const std::map<std::string, const Entry*> index = [entries] {
    std::map<std::string, const Entry*> m;
    for (const Entry& e : entries) {
      if (*e.name) m.emplace(e.name, &e);
    }
    return m;
  }();
  const auto it = index.find(name);
  return it == index.end() ? nullptr : it->second;
}

std::vector<Command> deriveCommands() {
  std::vector<Command> out;
  for (const char* handler : kAlwaysReachable) out.push_back({handler, Reach::Always, ""});
  for (const PageLayout& p : kPages) {
    if (*p.showHandler) {
      out.push_back(
          {p.showHandler, p.hidden ? Reach::PageShown : Reach::Always, p.hidden ? p.name : ""});
    }
  }
  for (const ControlLayout& c : kControls) {
    if (!*c.handler) continue;
    const PageLayout* page = findPage(c.page);
    if (page && page->hidden) {
      out.push_back({c.handler, Reach::PageShown, page->name});
    } else if (c.hidden) {
      out.push_back({c.handler, Reach::ControlShown, c.name});
    } else {
      out.push_back({c.handler, Reach::Always, ""});
    }
  }
  for (const MenuEntryLayout& m : kMenu) {
    if (!m.separator()) out.push_back({m.handler, Reach::MenuEntryShown, m.name});
  }
  return out;
}

}  // namespace

std::span<const PageLayout> pages() {
  return kPages;
}

std::span<const ControlLayout> controls() {
  return kControls;
}

std::span<const MenuEntryLayout> menu() {
  return kMenu;
}

const PageLayout* findPage(const std::string& name) {
  return findIn(pages(), name);
}

const ControlLayout* findControl(const std::string& name) {
  return findIn(controls(), name);
}

const MenuEntryLayout* findMenuEntry(const std::string& name) {
  return findIn(menu(), name);
}

}  // namespace window_layout

const char* reachName(Reach reach) {
  switch (reach) {
    case Reach::ControlShown:
      return "control shown";
    case Reach::PageShown:
      return "page shown";
    case Reach::MenuEntryShown:
      return "menu entry shown";
    case Reach::Always:
      break;
  }
  return "always";
}

std::span<const Command> commands() {
  static const std::vector<Command> table = window_layout::deriveCommands();
  return table;
}

const Command* findCommand(const std::string& handler) {
  for (const Command& c : commands()) {
    if (c.handler == handler) return &c;
  }
  return nullptr;
}

}  // namespace dovra
