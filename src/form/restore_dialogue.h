// The restore dialogue that ends each press of "Descompactar" (TForm1::restoreDialogue):
// pass after pass, it asks whether to restore, lets the operator choose a backup file
// (".fbk") and has the database server on this machine restore it into a new database
// beside it, showing the server's verbose output in `memoRestore`. Main thread only; the
// restore holds the main thread until the server is done.
//
// A pass:
//  1. "Processo concluído, deseja realizar o RESTORE da base? (Somente local)" (Yes/No);
//     anything but Yes ends the dialogue.
//  2. `memoRestore` is shown and cleared; the file dialog opens.
//  3. A file that does not exist: "Arquivo inválido!" ends the dialogue, `memoRestore`
//     stays visible and empty. A cancelled dialog sends no request: the pass goes on to
//     its end (4) and the question comes again.
//  4. The restore of `IBRestoreService1` into restoredDatabaseName(file), with `DbUser`
//     and `DbPassword`, page size 8192, verbose; every output line, the final empty one
//     included, goes to `memoRestore`. A failure of the program's own kind (the server's
//     refusals, a server that cannot be reached, the client's local refusals, a missing
//     client library) adds one line "Erro: <message>" and the pass goes on. Any other
//     failure ends the dialogue and reaches the general error report. In every case the
//     service is detached and the busy cursor is reset.
//  5. `memoRestore` is hidden, after a success and after a failure alike (its lines, the
//     "Erro: " line included, stay in it until the next pass clears it). The message
//     "Processo concluído" closes the pass; back to 1.
//
// Which server restores: the running Firebird server of this machine, through its service
// manager on loopback ("localhost:service_mgr"), since that server is the one that opens
// the database afterwards; it reads the backup file and creates the database under the
// paths as given, as its own user. Only when no server answers there does the restore go
// to the local service manager "service_mgr", which on Linux is the embedded engine of
// this process: the database it creates belongs to the operator's user, and a server
// running under another user may then be unable to open it until its owner is changed.
// A server that answers but refuses (credentials, an existing file, a damaged backup) is
// not bypassed: its refusal is the outcome.
//
// The restore asks for a new file and never replaces an existing database.
#pragma once

#include <string>
#include <string_view>

#include "firebird/ib_service.h"

namespace dovra {

// The database a backup file is restored into: the path with its last four characters
// (UTF-8 characters, whatever they are) replaced by ".fdb". "/dados/EMPRESA.fbk" gives
// "/dados/EMPRESA.fdb", "/a/backup1" gives "/a/bac.fdb".
std::string restoredDatabaseName(std::string_view backupPath);

// Attaches `service` (settings other than Protocol and ServerName already set) to the
// service manager of the server on loopback, `loopbackServer` ("localhost", or
// "localhost/<port>"), over TCP; when nothing answers there, to the local service manager
// "service_mgr". Leaves Protocol and ServerName as the attach used them. Throws the
// failure of the last attempt.
void attachToLocalServer(TIBRestoreService& service,
                         const std::string& loopbackServer = "localhost");

}  // namespace dovra
