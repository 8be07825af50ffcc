// The self-update check (`Timer3Timer`'s body, also run by the "Atualiza" button): reads
// the version the maker publishes ("http://" + WebServerHost + "/atl/atl_bkp.xml") and,
// when it is higher than ProgramVersion and neither the upload nor the NF-e export runs,
// fetches the updater "Renovador.exe" from the folder "exe" of the upload FTP service into
// the program's folder, starts it detached and ends the program through `Sair1Click`.
//
// The check is silent: no message and no log line on any path. The updater is started
// only after a complete download (the session writes the download under a temporary name
// and renames it only once the server confirmed the whole transfer), so a failed or cut
// download never starts it. When the updater cannot be started the tray icon comes back
// and the program goes on.
//
// Threads: main thread only. It blocks the main loop for the HTTP request (bounded by the
// HTTP limits) and the download. It takes IdFTP1's job lock without waiting: when an
// upload holds the session, the check ends as if FtpRunning were set.
#pragma once

#include <functional>

#include "core/worker_context.h"
#include "transfer/ftp_session.h"

namespace dovra {

// `ftp`: the upload session (IdFTP1); `exitProgram`: the exit sequence ("Sair").
void checkForUpdate(WorkerContext context, TIdFTP& ftp, const std::function<void()>& exitProgram);

}  // namespace dovra
