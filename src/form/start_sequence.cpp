// The start sequence (`timerIniciaTimer`), run once, two seconds after the loop starts:
// RunState from the settings file, the base names, the times, the first-run folder
// prompt and the checks on the base names, then the databases.
#include "form/start_sequence.h"

#include "core/cripto.h"
#include "core/settings_store.h"
#include "firebird/erp_statements.h"
#include "firebird/fb_client.h"
#include "form/form1.h"
#include "platform/paths.h"
#include "platform/text_codec.h"
#include "platform/trim.h"

namespace dovra {

namespace {

using namespace settings_keys;

constexpr const char* kCaption = "BackUp Dovra Informática";

}  // namespace

bool hasPathSeparator(const std::string& location) {
  return lastSeparator(location) != std::string::npos;
}

std::string baseNameOf(const std::string& location) {
  const size_t sep = lastSeparator(location);
  const std::string name = sep == std::string::npos ? location : location.substr(sep + 1);
  // The extension with its dot: the last four characters.
  const size_t length = utf8Length(name);
  return length <= 4 ? std::string() : utf8Left(name, length - 4);
}

double readScheduleTime(const std::string& text, double current, double fallback) {
  const std::string t = trimText(text);
  if (t.empty()) return current;
  return parseTimeOfDay(t).value_or(fallback);
}

void TForm1::timerIniciaTimer() {
  timerInicia.setEnabled(false);
  runStartSequence();
}

void TForm1::runStartSequence() {
  ProfileFile file = settingsFile(state_.InstallationId);
  if (!file.exists()) {
    dialogs_.messageBox("",
                        "O arquivo de configuração .ini não foi encontrado!\r"
                        "Esta aplicação será encerrada!!",
                        MessageIcon::Error, MessageButtons::Ok);
    terminate(1);
    return;
  }

  state_.DatabasePath = file.readString(kConexao, kEndereco);
  state_.LocalRemote = file.readString(kBackup, kLocalRemoto);
  if (state_.LocalRemote.empty()) {
    file.writeString(kBackup, kLocalRemoto, "L");
    state_.LocalRemote = file.readString(kBackup, kLocalRemoto);
  }

  if (!hasPathSeparator(state_.DatabasePath)) {
    dialogs_.messageBox(kCaption, "Caminho do banco não encontrado, verifique o confvarde",
                        MessageIcon::Exclamation, MessageButtons::Ok);
    return;
  }
  state_.DatabaseBaseName = baseNameOf(state_.DatabasePath);

  state_.NfeDatabasePath = file.readString(kCnxNfe, kEndereco);
  if (!hasPathSeparator(state_.NfeDatabasePath)) {
    dialogs_.messageBox(kCaption, "Caminho do banco nfe não encontrado, verifique o confvarde",
                        MessageIcon::Exclamation, MessageButtons::Ok);
    return;
  }
  state_.NfeDatabaseBaseName = baseNameOf(state_.NfeDatabasePath);

  state_.BackupFolder = file.readString(kBackup, kEnderecoBackup);
  state_.DbUser = cp1252ToUtf8(cripto(file.readRaw(kConexao, kUsuario), 1));
  state_.DbPassword = cp1252ToUtf8(cripto(file.readRaw(kConexao, kSenha), 1));

  state_.BackupTime1 = readScheduleTime(file.readString(kBackup, kTempo1), state_.BackupTime1,
                                        *parseTimeOfDay("09:30"));
  state_.BackupTime2 = readScheduleTime(file.readString(kBackup, kTempo2), state_.BackupTime2,
                                        *parseTimeOfDay("16:30"));
  state_.FtpTime =
      readScheduleTime(file.readString(kBackup, kTempo3), state_.FtpTime, *parseTimeOfDay("12:00"));
  // Our own section: the archive check is on unless it says N.
  const std::string verify = trimText(file.readString(kBackupDovra, kVerificar));
  state_.VerifyEnabled = !(verify == "N" || verify == "n");

  if (utf8Length(state_.BackupFolder) < 5) {
    dialogs_.messageBox(kCaption,
                        "Caminho do backup não encontrado.\r"
                        "Clique OK e escolha uma pasta para o backup automático!",
                        MessageIcon::Exclamation, MessageButtons::Ok);
    window_.setWindowTopmost(true);
    showMainWindow();
    const std::string prompt = "Selecione a pasta para backup automático";
    const auto chosen =
        dialogs_.openFile({.title = prompt, .fileName = prompt, .filter = "ALL files|*.*"});
    if (!chosen) {
      dialogs_.messageBox(kCaption,
                          "Caminho do backup inválido!\r"
                          "Configure o confvarde no bloco:backup->enderecobackup.",
                          MessageIcon::Error, MessageButtons::Ok);
      terminate(1);
      return;
    }
    const std::string folder = directoryPart(*chosen);
    if (!directoryExists(folder)) {
      dialogs_.messageBox(kCaption, "Pasta inválida!", MessageIcon::Error, MessageButtons::Ok);
      terminate(1);
      return;
    }
    // Used from the next start; this run keeps the folder it read.
    file.writeString(kBackup, kEnderecoBackup, folder);
    dialogs_.messageBox(kCaption, "Caminho do backup configurado com sucesso!",
                        MessageIcon::Exclamation, MessageButtons::Ok);
  }

  if (utf8Length(state_.DatabaseBaseName) < 2) {
    dialogs_.messageBox(kCaption, "Base inválida!", MessageIcon::Error, MessageButtons::Ok);
    terminate(1);
    return;
  }
  if (!state_.NfeDatabaseBaseName.empty() && utf8Length(state_.NfeDatabaseBaseName) < 2) {
    dialogs_.messageBox(kCaption, "Base nfe inválida!", MessageIcon::Error, MessageButtons::Ok);
    terminate(1);
    return;
  }

  connectMainDatabase();
}

void TForm1::connectMainDatabase() {
  // The attempt runs aside so the tray, the timers and the exit keep working while the
  // database is awaited; its outcome comes back to the main thread.
  if (connectAttempt_.joinable()) connectAttempt_.join();
  const std::string location = state_.DatabasePath;
  const std::string user = state_.DbUser;
  const std::string password = state_.DbPassword;
  connectAttempt_ = std::thread([this, location, user, password] {
    bool connected = false;
    std::string noClient;
    try {
      FbClient::instance();
    } catch (const std::exception& e) {
      noClient = e.what();
    }
    try {
      if (noClient.empty()) {
        ErpConnections& db = erp();
        std::lock_guard lock(db.Banco.lock());
        connectDatabase(db.Banco, location, user, password);
        db.TBanco.StartTransaction();
        connected = true;
      }
    } catch (...) {
      // Wrong credentials, a server not up yet: wait and try again.
    }
    loop_.post([this, connected, noClient] {
      if (loop_.exiting()) return;
      if (!noClient.empty()) {
        // Without the client library no attempt can succeed: its message, and the end,
        // as for settings the program cannot use.
        reportError(noClient);
        terminate(1);
        return;
      }
      if (connected) {
        guarded([this] { continueStartSequence(); });
      } else {
        connectRetry_.setEnabled(true);
      }
    });
  });
}

void TForm1::continueStartSequence() {
  ErpConnections& db = erp();
  {
    std::lock_guard lock(db.Banco.lock());
    state_.XmlFolder = trimText(firstRowText(db.Query1, erp::kSelectXmlFolder)) + "NFe/Xmls/Xmls";

    firstRowText(db.Query1, erp::kSelectCompanyNames);
    state_.CompanyText = utf8Left(db.Query1.Fields[0].AsString(), 30) + " - " +
                         utf8Left(db.Query1.Fields[1].AsString(), 30);

    window_.setHint("BackUp Dovra \rEmpresa: " + state_.CompanyText + "\r" + "\r" +
                    "Backup do dia pendente - faça o backup" +
                    " - Versão: " + std::to_string(state_.ProgramVersion));
    window_.setCaption(window_.caption() + " - " + state_.CompanyText +
                       " - Versão: " + std::to_string(state_.ProgramVersion));

    state_.ProgressMaximum = firstRowInteger(db.Query1, erp::kCountUserTables);
    state_.ProgressMaximum += firstRowInteger(db.Query1, erp::kCountSystemIndexSegments);
    window_.setLabel("lbProgresso", window_.labelText("lbProgresso") + " - " +
                                        std::to_string(state_.ProgressMaximum));

    db.Query1.Close();
    db.TBanco.Commit();
    db.Banco.Close();
  }

  state_.NfeEnabled = false;
  if (trimText(state_.NfeDatabasePath) != trimText(state_.DatabasePath) &&
      !trimText(state_.NfeDatabasePath).empty()) {
    state_.NfeEnabled = true;
    std::lock_guard lock(db.banconfe.lock());
    connectDatabase(db.banconfe, state_.NfeDatabasePath, state_.DbUser, state_.DbPassword);
    db.tnfe.StartTransaction();
  } else {
    state_.NfeDatabasePath.clear();
    state_.NfeDatabaseBaseName.clear();
    std::lock_guard lock(db.banconfe.lock());
    db.banconfe.Close();
    db.banconfe.DatabaseName.clear();
  }

  // A check of the archive cut short left its scratch database: it goes now. The hint
  // tells when the last verified archive was written.
  removeInterruptedVerification(state_, window_);
  window_.setHintNote(verifiedArchiveNote(state_));

  Timer1.setEnabled(true);
  window_.setMenuAttached(true);
}

}  // namespace dovra
