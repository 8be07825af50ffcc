#include "form/unpack_page.h"

#include "archive/archive_reader.h"
#include "form/form1.h"
#include "platform/paths.h"

namespace dovra {
namespace {

constexpr const char* kFormCaption = "BackUp Dovra Informática";

// Feeds the page's labels from DecompressFiles.
class PageProgress final : public DecompressObserver {
 public:
  explicit PageProgress(TForm1& form) : form_(form) {}
  void entryStarted(int32_t index, int32_t count) override {
    form_.window().setLabel("lbDecompress", decompressCounterText(index, count));
  }
  void entrySize(const std::string& /*name*/, int64_t size) override {
    form_.CurrentEntrySize = size;
  }
  void progress(uint64_t position) override { form_.DecompressionProgress(position); }
  void finished() override {
    form_.window().setLabel("lbDecompress", std::string(kDecompressDoneText));
  }

 private:
  TForm1& form_;
};

// A path as a full path; the text unchanged when it cannot be made one.
class BusyFlag {
 public:
  explicit BusyFlag(RunFlag& flag) : flag_(flag) { flag_.set(true); }
  ~BusyFlag() { flag_.set(false); }
  BusyFlag(const BusyFlag&) = delete;
  BusyFlag& operator=(const BusyFlag&) = delete;

 private:
  RunFlag& flag_;
};

}  // namespace

std::string archiveFolderPart(std::string_view archivePath) {
  const size_t last = archivePath.find_last_of("/\\:");
  if (last == std::string_view::npos) return {};
  return std::string(archivePath.substr(0, last + 1));
}

void TForm1::SpeedButton10Click() {
  if (state_.RestoreRunning) return;
  const std::optional<std::string> chosen =
      dialogs_.openFile({.title = "Selecione o arquivo de backup",
                         .fileName = "*.zlib",
                         .filter = "ZLIB files|*.zlib"});
  if (!chosen) return;
  if (fileExists(*chosen)) {
    window_.setEditText("Edit3", absolutePath(*chosen));
    return;
  }
  dialogs_.messageBox(kFormCaption, "Arquivo inválido!", MessageIcon::Error, MessageButtons::Ok);
  window_.setEditText("Edit3", "");
}

void TForm1::SpeedButton11Click() {
  if (state_.RestoreRunning) return;
  const BusyFlag busy(state_.RestoreRunning);
  const std::string archive = window_.editText("Edit3");
  if (!archive.empty() && fileExists(archive)) {
    PageProgress progress(*this);
    DecompressFiles(archive, archiveFolderPart(archive), &progress);
    // "Sair" chosen while the unpacking ran: the program is ending, no restore is offered.
    if (loop_.exiting()) return;
  }
  restoreDialogue();
}

void TForm1::DecompressionProgress(uint64_t position) {
  window_.setLabel("lbStatusDecompres", decompressPercentText(position, CurrentEntrySize));
  loop_.processEvents();
}

}  // namespace dovra
