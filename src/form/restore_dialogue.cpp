#include "form/restore_dialogue.h"

#include "firebird/fb_client.h"
#include "form/form1.h"
#include "platform/paths.h"
#include "platform/text_codec.h"

namespace dovra {
namespace {

constexpr const char* kMemo = "memoRestore";
constexpr const char* kQuestionCaption = "BackUpDovra";
constexpr const char* kFormCaption = "BackUp Dovra Informática";
constexpr const char* kPassDone = "Processo concluído";

// Whether an attach failed because nothing answered at the server's address (no server
// listening), as opposed to a server that answered and refused.
bool noServerAnswered(const EIBError& error) {
  return error.gdsCode() == isc_network_error;
}

// A chosen path as a full path: the server resolves names from its own folder.
// Detaches the service (when one was made) and resets the cursor, whatever happened.
class PassEnd {
 public:
  explicit PassEnd(WindowModel& window) : window_(window) { window_.setBusyCursor(true); }
  ~PassEnd() {
    if (service) service->Detach();
    window_.setBusyCursor(false);
  }
  PassEnd(const PassEnd&) = delete;
  PassEnd& operator=(const PassEnd&) = delete;

  TIBRestoreService* service = nullptr;

 private:
  WindowModel& window_;
};

// One restore request for `backupFile`; its output and its failure go to the memo.
void restoreBackupFile(TForm1& form, const std::string& backupFile) {
  WindowModel& window = form.window();
  PassEnd end(window);
  try {
    TIBRestoreService& service = form.IBRestoreService1();
    end.service = &service;
    service.LoginPrompt = false;
    service.Params.Clear();
    service.Params.SetValue("user_name", form.state().DbUser);
    service.Params.SetValue("password", form.state().DbPassword);
    service.Verbose = true;
    service.PageSize = 8192;
    service.DatabaseName.Clear();
    service.DatabaseName.Add(restoredDatabaseName(backupFile));
    service.BackupFile.Clear();
    service.BackupFile.Add(backupFile);
    attachToLocalServer(service);
    service.ServiceStart();
    while (!service.OutputFinished()) window.memoAdd(kMemo, service.ReadOutputLine());
  } catch (const Exception& e) {
    window.memoAdd(kMemo, std::string("Erro: ") + e.what());
  }
}

}  // namespace

std::string restoredDatabaseName(std::string_view backupPath) {
  const size_t length = utf8Length(backupPath);
  const size_t keep = length > 4 ? length - 4 : 0;
  return utf8Left(backupPath, keep) + ".fdb";
}

void attachToLocalServer(TIBRestoreService& service, const std::string& loopbackServer) {
  service.Protocol = TProtocol::TCP;
  service.ServerName = loopbackServer;
  try {
    service.Attach();
    return;
  } catch (const EIBError& e) {
    if (!noServerAnswered(e)) throw;
  }
  service.Protocol = TProtocol::Local;
  service.Attach();
}

void TForm1::restoreDialogue() {
  for (;;) {
    const MessageAnswer answer = dialogs_.messageBox(
        kQuestionCaption, "Processo concluído, deseja realizar o RESTORE da base? (Somente local)",
        MessageIcon::Question, MessageButtons::YesNo);
    if (answer != MessageAnswer::Yes) return;

    window_.setControlVisible(kMemo, true);
    window_.memoClear(kMemo);
    const std::optional<std::string> chosen =
        dialogs_.openFile({.title = "Selecione o arquivo para restaurar",
                           .fileName = "*.fbk",
                           .filter = "FBK files|*.fbk"});
    if (chosen) {
      if (!fileExists(*chosen)) {
        dialogs_.messageBox(kFormCaption, "Arquivo inválido!", MessageIcon::Error,
                            MessageButtons::Ok);
        return;
      }
      restoreBackupFile(*this, absolutePath(*chosen));
    }
    window_.setControlVisible(kMemo, false);
    dialogs_.messageBox(kQuestionCaption, kPassDone, MessageIcon::Information, MessageButtons::Ok);
  }
}

}  // namespace dovra
