// TIdFTP: the FTP client session through which every transfer to or from the maker's
// servers goes. It speaks the part of RFC 959 (plus SIZE, RFC 3659) the program needs:
// login, folders, SIZE, STOR/APPE, RETR, DELE, RNFR/RNTO, always in passive mode and
// binary type. Failures are EIdException subclasses (transfer/ftp_errors.h) carrying the
// text the callers log.
//
// Threads. A session is used by one thread at a time: a job takes lock() for the whole
// run and writes the settings, opens, transfers and closes while holding it. Two calls
// are also safe from another thread while the owner blocks inside an operation (the exit
// path uses them): CloseSession(), which makes the blocked operation fail at once with
// "Not Connected", and Abort(), which stops a transfer in progress. Connected() and the
// reply accessors may be called from any thread.
//
// Waiting. Every wait for a reply, for the data connection or for data is limited by
// ReadTimeout (milliseconds without progress); when it passes, the operation fails with
// "Read timed out." (or "Connect timed out." for the data connection) and the session is
// closed, so a silent server never holds a worker for good.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>

#include "platform/file_handle.h"
#include "platform/socket.h"
#include "transfer/ftp_errors.h"
#include "transfer/ftp_reply.h"
#include "transfer/ftp_stream.h"

namespace dovra {

enum TIdFTPTransferType { ftBinary, ftASCII };

class TIdFTP {
 public:
  TIdFTP();
  // Closes the session (no QUIT). No operation may be running.
  ~TIdFTP();
  TIdFTP(const TIdFTP&) = delete;
  TIdFTP& operator=(const TIdFTP&) = delete;

  // Settings, written by the owner before OpenSession and read by the operations.
  std::string Host;
  int Port = 21;
  std::string Username;
  std::string Password;
  // Only passive transfers are implemented; a transfer with Passive false fails.
  bool Passive = true;
  // "TYPE I" for ftBinary, "TYPE A" for ftASCII; data always passes unchanged.
  TIdFTPTransferType TransferType = ftBinary;
  // Limit for every wait without progress, in milliseconds; 0 or less means the default.
  int ReadTimeout = kDefaultReadTimeout;
  // Longest reply line accepted, in bytes.
  int MaxLineLength = 16384;
  // Chunk sizes for reading and sending data (and reading replies).
  int RecvBufferSize = 32768;
  int SendBufferSize = 32768;

  static constexpr int kDefaultReadTimeout = 60000;

  // The job lock: held by the thread that uses the session for the whole of its run.
  std::mutex& lock() { return jobMutex_; }

  // Connects to Host:Port and, with login, logs on: greeting 220; "USER " + Username
  // (230, or 331 and then "PASS " + Password, 230); "TYPE I" (200); "SYST" (200, 215 or
  // 500). timeoutMs > 0 limits the TCP connect ("Connect timed out."; 0 or less leaves it
  // to the system); every reply wait is limited by ReadTimeout; Host is resolved (IPv4)
  // with the system resolver and its own limits. Any failure leaves the session closed.
  // Fails with "Already connected." on an open session.
  void OpenSession(bool login, int timeoutMs);
  // Closes the control connection (and any data connection) without QUIT. Nothing happens
  // on a closed session. From another thread while an operation runs, that operation
  // fails at once with "Not Connected".
  void CloseSession();
  bool Connected() const;

  // "CWD " + name: 200 or 250.
  void EnterFolder(const std::string& name);
  // "MKD " + name: 257.
  void CreateFolder(const std::string& name);
  // "SIZE " + name: the size from a 213 reply, -1 for any other reply. Never fails on the
  // reply code (but does on a closed session or a broken connection). 64-bit: archives
  // pass 2 GiB.
  int64_t RemoteSize(const std::string& name);
  // Stores the stream's bytes from its position to its end under name ("STOR", or "APPE"
  // with append): "PASV" 227; 110, 125 or 150; final 225, 226 or 250. A final 426 or 450
  // is a failed transfer (EIdProtocolReplyError with the reply's text). Fails with "No
  // data to read." when the stream yields nothing before its end (also when its position
  // lies beyond its end); the control connection stays usable after that.
  void UploadStream(UploadSource& stream, const std::string& name, bool append);
  // As UploadStream, from the start of a local file opened read-only; a file that cannot
  // be opened fails before anything is sent.
  void UploadFile(const std::string& localPath, const std::string& name, bool append);
  // Fetches name into a new local file ("PASV" 227; "RETR " + name: 125, 150 or 154;
  // final as for uploads). Fails with "Destination file already exists." before anything
  // is sent when localPath exists. The bytes go to a temporary file beside localPath,
  // which is flushed and renamed to localPath only after the server's final reply accepted
  // the transfer (and the byte count matches the size the server announced, if it did);
  // on any failure no file is left under either name.
  void DownloadFile(const std::string& name, const std::string& localPath);
  // "DELE " + name: 250.
  void RemoveRemote(const std::string& name);
  // "RNFR " + oldName (350), then "RNTO " + newName (250).
  void RenameRemote(const std::string& oldName, const std::string& newName);

  // For the exit path, from any thread: when a transfer is in progress, sends "ABOR" on
  // the control connection and drops the data connection; the transfer fails with
  // "Transfer aborted." and the session is closed. Otherwise nothing happens.
  void Abort();

  // Called on the transferring thread after each chunk sent, with the bytes sent so far in
  // this upload. Set by the owner; empty for none.
  void setUploadProgress(std::function<void(int64_t)> callback);

  // The last reply received, the greeting of this session and the reply that ended the
  // login.
  FtpReply lastReply() const;
  FtpReply greeting() const;
  FtpReply loginMessage() const;

 private:
  class Busy;
  enum class Wait { ready, timedOut };

  int readTimeoutMs() const;
  void requireConnected() const;
  Wait await(const TcpSocket& socket, SocketDirection direction, int timeoutMs);
  [[noreturn]] void throwInterrupted();
  bool interrupted() const;
  TcpSocket& connectTo(const std::string& host, int port, int timeoutMs, TcpSocket TIdFTP::*slot);
  void dropConnection();
  void closeData();
  void sendLine(const std::string& line);
  std::string readLine();
  FtpReply readReply();
  FtpReply command(const std::string& line, std::initializer_list<int> accepted);
  using DataPhase = std::function<void(const FtpReply& preliminary)>;
  void transfer(const std::string& line, std::initializer_list<int> preliminary,
                const DataPhase& dataPhase);
  void sendStream(UploadSource& stream);
  int64_t receiveInto(FileHandle& file);
  void uploadStream(UploadSource& stream, const std::string& name, bool append);

  std::mutex jobMutex_;

  // Guards the sockets and flags below and the stored replies. The owner sends and
  // receives on the sockets without it; other threads only shut them down, under it.
  mutable std::mutex stateMutex_;
  TcpSocket control_;
  TcpSocket data_;
  CancellableWait wake_;  // interrupts the owner's waits
  bool connected_ = false;
  bool busy_ = false;
  bool closeRequested_ = false;
  bool abortRequested_ = false;
  FtpReply lastReply_;
  FtpReply greeting_;
  FtpReply loginMessage_;

  // Serialises whole command lines on the control connection (the owner and Abort).
  std::mutex controlWriteMutex_;

  // Owner-thread state.
  std::string controlPeer_;
  std::string readBuffer_;
  std::function<void(int64_t)> uploadProgress_;
};

}  // namespace dovra
