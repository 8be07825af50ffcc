// TFTP: the daily upload worker. Once per calendar day it sends the automatic backup's
// archive (BackupFolder + DatabaseBaseName + ".zlib") to the maker's FTP server into the
// company's CNPJ folder under a temporary name, resuming a partial one, checks the stored
// size, reports the day's date over HTTP for every company with a CNPJ, records the day in
// the ERP database (PRGDATAFTP) and replaces the previous remote archive by renaming. Each
// step writes its line into the transfer log `mLog`.
//
// Threads. A run is the body of a worker thread; the launcher starts one at a time. It
// sets FtpRunning once it decides to upload and clears it when the run ends, on every
// path. It holds IdFTP1's job lock from the first session call to the end of the run. It
// takes Banco's lock around each group of statements, never across the transfer or the
// date report, and every group runs in a short transaction of its own, committed before
// the lock is released: the ERP's own connections may change PARGERAL at any time without
// failing the run, and the main thread's statements on Banco wait at most for one group.
//
// The day. "Already uploaded today" compares PRGDATAFTP with the database server's
// current date, the clock the date is recorded with. The day is recorded only once the
// archive is in place under its final name; a failed rename is logged ("Erro: " and its
// message) and the day stays due, so the next tick finds the complete temporary, sends
// nothing and renames it.
//
// The archive. It is opened once and held open (with an advisory shared flock) from the
// moment it is found until the run ends. The automatic backup replaces the archive by
// renaming a new file over it, so the bytes behind the open descriptor stay those of the
// archive the run started with, and a whole run sends one archive consistently. It is
// sent from the file in SendBufferSize chunks, never held in memory.
//
// Resuming. The remote temporary file survives a failed run, and its size decides where
// the next run goes on. Beside the archive, archive + ".upload" records which archive the
// remote temporary was started from (its size, modification time and a CRC-32 of its
// first 64 KiB, and the remote folder and name); it is written, atomically, whenever an
// upload starts from the first byte. A remote temporary that is not the record's (another
// archive, another folder, no record), or that is larger than the archive, is removed
// (DELE) and the whole archive is sent; one whose size the server does not tell is removed
// too (a failure to remove it is ignored: usually there is none). Before the date is
// recorded the remote temporary must have the archive's size (when the server answers
// SIZE); otherwise the run ends with "Arquivo não enviado" and the next one resumes.
#pragma once

#include <string>

#include "core/run_state.h"
#include "core/worker_context.h"
#include "firebird/erp_connections.h"
#include "platform/file_handle.h"
#include "transfer/ftp_session.h"

namespace dovra {

class TFTP {
 public:
  // `settings` is the launcher's copy of the settings, taken when the worker started.
  TFTP(WorkerContext context, ErpAccess erp, TIdFTP& ftp, RunSettings settings);

  // One run. Never throws: a failure that ends the run early leaves no log line, as the
  // worker's other early ends.
  void Execute();

 private:
  void run();

  WorkerContext ctx_;
  ErpAccess erp_;
  TIdFTP& ftp_;
  RunSettings settings_;
};

// The path of the resume record of an archive: archivePath + ".upload".
std::string uploadRecordPath(const std::string& archivePath);

// The resume record's text for the archive open in `file`, sent to `remotePath` (the
// company folder, "/" and the remote temporary's name). Throws EInOutError when the
// archive cannot be read.
std::string describeUploadOrigin(FileHandle& file, const std::string& remotePath);

// Records that an upload of the archive at `archivePath` to `remotePath` starts from its
// first byte (what a run does before it sends a whole archive). Throws EInOutError or
// std::system_error on failure.
void recordUploadStart(const std::string& archivePath, const std::string& remotePath);

}  // namespace dovra
