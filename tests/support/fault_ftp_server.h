// A scripted FTP server for what a real server will not do: odd replies, a 426 after the
// data, a stall, a data connection dropped midway, an over-long line. It listens on a
// loopback port, takes one control connection and plays its script on its own thread,
// step by step; every wait of a step is limited (5 s, 10 s for waitForClose), so a client
// that misbehaves ends the script with an error instead of hanging the test.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dovra::test {

namespace fault {

struct Step {
  enum Kind {
    kReply,
    kRaw,
    kExpect,
    kPasv,
    kAcceptData,
    kSendData,
    kReceiveData,
    kReceiveDataBytes,
    kCloseData,
    kResetData,
    kWaitForClose,
    kCloseControl,
    kPause,
  };
  Kind kind;
  std::string text;
  size_t number = 0;
  bool flag = false;
};

// clang-format off
// Sends one reply line followed by CR LF.
inline Step reply(std::string line) { return {Step::kReply, std::move(line)}; }
// Sends bytes exactly as given.
inline Step raw(std::string bytes) { return {Step::kRaw, std::move(bytes)}; }
// Reads the next command line; it must equal `command`.
inline Step expect(std::string command) { return {Step::kExpect, std::move(command)}; }
// Opens a data listener on loopback and answers "227 Entering Passive Mode (h1,h2,h3,h4,
// p1,p2)." with `hostField` as the four host numbers and the listener's port; without
// parentheses the numbers follow the text after a blank.
inline Step pasv(std::string hostField = "127,0,0,1", bool parenthesized = true) {
  return {Step::kPasv, std::move(hostField), 0, parenthesized};
}
// Accepts the client's data connection.
inline Step acceptData() { return {Step::kAcceptData}; }
// Sends bytes on the data connection.
inline Step sendData(std::string bytes) { return {Step::kSendData, std::move(bytes)}; }
// Reads the data connection until the client closes it.
inline Step receiveData() { return {Step::kReceiveData}; }
// Reads exactly `count` bytes from the data connection.
inline Step receiveDataBytes(size_t count) { return {Step::kReceiveDataBytes, {}, count}; }
// Closes the data connection in order (the client sees the end of the data).
inline Step closeData() { return {Step::kCloseData}; }
// Drops the data connection with a reset.
inline Step resetData() { return {Step::kResetData}; }
// Waits, silent, until the client closes the control connection; lines that arrive
// meanwhile are recorded as commands.
inline Step waitForClose() { return {Step::kWaitForClose}; }
// Closes the control connection.
inline Step closeControl() { return {Step::kCloseControl}; }
// Waits `ms` milliseconds.
inline Step pause(size_t ms) { return {Step::kPause, {}, ms}; }
// clang-format on

// A session's opening with the program's account: `greeting`, USER, PASS, TYPE I and SYST
// answered with `syst`.
std::vector<Step> login(Step greeting = reply("220 ready"), const std::string& syst = "215 UNIX");
// The steps of `a`, then those of `b`.
std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b);

}  // namespace fault

class FaultFtpServer {
 public:
  explicit FaultFtpServer(std::vector<fault::Step> script);
  // Stops the script wherever it is.
  ~FaultFtpServer();
  FaultFtpServer(const FaultFtpServer&) = delete;
  FaultFtpServer& operator=(const FaultFtpServer&) = delete;

  std::string host() const { return "127.0.0.1"; }
  int port() const { return port_; }

  // Waits for the script to end and returns what went wrong, empty when every step ran.
  std::string finish();
  // Command lines received so far, without CR LF.
  std::vector<std::string> commands() const;
  // Bytes received on data connections.
  std::string receivedData() const;

 private:
  void run();
  void runStep(const fault::Step& step);
  std::string readCommand(int timeoutMs);

  std::vector<fault::Step> script_;
  int listener_ = -1;
  int port_ = 0;
  int control_ = -1;
  int dataListener_ = -1;
  int data_ = -1;
  std::string controlBuffer_;
  std::atomic<bool> stopping_{false};

  mutable std::mutex mutex_;
  std::vector<std::string> commands_;
  std::string received_;
  std::string error_;
  std::thread thread_;
};

}  // namespace dovra::test
