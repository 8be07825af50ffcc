// TXML: the NF-e export worker. It sends every NF-e document the NF-e database marks as
// not yet sent (NFEFTP = 'N') to the maker's second FTP service, one file per document
// (NFECHAVE + "-nfe.xml") below "/", the CNPJ folder of company 1, "XMLS" and the
// document's company code, and marks each stored document as sent in the run's
// transaction, committed at the end of the run. A document counts as stored only when the
// server holds it whole after the store: the size it tells (SIZE) is the local copy's, or,
// from a server that tells no size, the file read back (RETR) equals the copy. On the way it keeps
// a local copy of each document under XmlFolder (XmlFolder + NFEEMPRESA + "/NFe" + NFENOTA + "/" +
// file name), written from the database only when it is missing, and the local copy is what is
// sent.
//
// Local copies are written under a temporary name, flushed and renamed into place without
// replacing a file that appeared meanwhile, so a copy is never seen half-written (a
// half-written copy would be sent as the document on a later run). A key that would name
// a file outside its folder is refused for that document.
//
// The remote folder is changed when a document's company differs from the company whose
// folder the session is in; a company whose folder change failed is not taken as entered,
// so its next document tries the change again and no document is stored in another
// company's folder.
//
// Threads. A run is the body of a worker thread; the launcher starts one at a time. It
// holds banconfe's lock for the whole run (the export is its only user after the start
// sequence), Banco's lock for its one statement, and IdFTPNFE's job lock from the first
// session call to the end. The transfers are made by a helper thread of the run, in row
// order, while the worker thread reads the next documents, writes their local copies and
// marks the stored ones (a short queue between the two), so the database work overlaps
// the network; the helper ends before the run does. XmlRunning is set once unsent
// documents are found and cleared when the run ends, on every path.
#pragma once

#include "core/run_state.h"
#include "core/worker_context.h"
#include "firebird/erp_connections.h"
#include "transfer/ftp_session.h"

namespace dovra {

class TXML {
 public:
  // `settings` is the launcher's copy of the settings, taken when the worker started.
  TXML(WorkerContext context, ErpAccess erp, TIdFTP& ftp, RunSettings settings);

  // One run. Never throws: a database failure ends the run without a log line.
  void Execute();

 private:
  void run();

  WorkerContext ctx_;
  ErpAccess erp_;
  TIdFTP& ftp_;
  RunSettings settings_;
};

}  // namespace dovra
