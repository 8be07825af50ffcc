#include "support/fault_ftp_server.h"
#include "support/test_servers.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>

namespace dovra::test {

namespace fault {

std::vector<Step> login(Step greeting, const std::string& syst) {
  return {std::move(greeting),
          expect("USER copia_ftp_dovra"),
          reply("331 password?"),
          expect("PASS lotusgravelz2"),
          reply("230 logged in"),
          expect("TYPE I"),
          reply("200 binary"),
          expect("SYST"),
          reply(syst)};
}

std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace fault

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kStepTimeoutMs = 5000;
constexpr int kCloseTimeoutMs = 10000;

struct StepFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Waits in short slices so that the destructor can stop the script.
void waitReadable(int fd, int timeoutMs, const char* what, const std::atomic<bool>& stopping) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (stopping) throw StepFailure("stopped");
    if (Clock::now() > deadline) throw StepFailure(std::string("timed out waiting for ") + what);
    if (waitLoopbackReadable(fd, 50)) return;
  }
}

int acceptOne(int listener, const char* what, const std::atomic<bool>& stopping) {
  waitReadable(listener, kStepTimeoutMs, what, stopping);
  // Without delay: each scripted reply goes out at once.
  const int fd = acceptLoopback(listener);
  if (fd < 0) throw StepFailure(std::string("accept failed for ") + what);
  return fd;
}

void sendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const long n = sendLoopback(fd, bytes.data() + sent, bytes.size() - sent);
    if (n <= 0) throw StepFailure("send failed");
    sent += static_cast<size_t>(n);
  }
}

void closeFd(int& fd, bool reset = false) {
  closeLoopback(fd, reset);
  fd = -1;
}

}  // namespace

FaultFtpServer::FaultFtpServer(std::vector<fault::Step> script) : script_(std::move(script)) {
  listener_ = bindLoopback(port_);
  thread_ = std::thread([this] { run(); });
}

FaultFtpServer::~FaultFtpServer() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  closeFd(data_);
  closeFd(dataListener_);
  closeFd(control_);
  closeFd(listener_);
}

std::string FaultFtpServer::finish() {
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> guard(mutex_);
  return error_;
}

std::vector<std::string> FaultFtpServer::commands() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return commands_;
}

std::string FaultFtpServer::receivedData() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return received_;
}

void FaultFtpServer::run() {
  size_t index = 0;
  try {
    control_ = acceptOne(listener_, "the control connection", stopping_);
    for (; index < script_.size() && !stopping_; ++index) runStep(script_[index]);
  } catch (const std::exception& e) {
    std::lock_guard<std::mutex> guard(mutex_);
    error_ = "step " + std::to_string(index + 1) + ": " + e.what();
  }
  closeFd(data_);
  closeFd(dataListener_);
  closeFd(control_);
}

// Reads one command line from the control connection and records it; throws when the
// client closes the connection or nothing arrives in time.
std::string FaultFtpServer::readCommand(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t lf = controlBuffer_.find('\n');
    if (lf != std::string::npos) {
      std::string line = controlBuffer_.substr(0, lf);
      controlBuffer_.erase(0, lf + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::lock_guard<std::mutex> guard(mutex_);
      commands_.push_back(line);
      return line;
    }
    waitReadable(
        control_,
        static_cast<int>(std::max<int64_t>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                   .count())),
        "a command", stopping_);
    char buf[4096];
    const long n = receiveLoopback(control_, buf, sizeof buf);
    if (n <= 0) throw StepFailure("control connection closed by the client");
    controlBuffer_.append(buf, static_cast<size_t>(n));
  }
}

void FaultFtpServer::runStep(const fault::Step& step) {
  using fault::Step;
  switch (step.kind) {
    case Step::kReply:
      sendAll(control_, step.text + "\r\n");
      break;
    case Step::kRaw:
      sendAll(control_, step.text);
      break;
    case Step::kExpect: {
      const std::string line = readCommand(kStepTimeoutMs);
      if (line != step.text) {
        throw StepFailure("expected \"" + step.text + "\", got \"" + line + "\"");
      }
      break;
    }
    case Step::kPasv: {
      closeFd(dataListener_);
      int port = 0;
      dataListener_ = bindLoopback(port);
      const std::string numbers =
          step.text + "," + std::to_string(port / 256) + "," + std::to_string(port % 256);
      sendAll(control_, step.flag ? "227 Entering Passive Mode (" + numbers + ").\r\n"
                                  : "227 Entering Passive Mode " + numbers + "\r\n");
      break;
    }
    case Step::kAcceptData:
      closeFd(data_);
      data_ = acceptOne(dataListener_, "the data connection", stopping_);
      break;
    case Step::kSendData:
      sendAll(data_, step.text);
      break;
    case Step::kReceiveData:
    case Step::kReceiveDataBytes: {
      const bool counted = step.kind == Step::kReceiveDataBytes;
      size_t got = 0;
      char buf[65536];
      while (!counted || got < step.number) {
        waitReadable(data_, kStepTimeoutMs, "data", stopping_);
        const size_t want = counted ? std::min(sizeof buf, step.number - got) : sizeof buf;
        const long n = receiveLoopback(data_, buf, want);
        if (n < 0) throw StepFailure("data connection failed");
        if (n == 0) {
          if (counted) throw StepFailure("data ended early");
          break;
        }
        got += static_cast<size_t>(n);
        std::lock_guard<std::mutex> guard(mutex_);
        received_.append(buf, static_cast<size_t>(n));
      }
      break;
    }
    case Step::kCloseData:
      closeFd(data_);
      break;
    case Step::kResetData:
      closeFd(data_, true);
      break;
    case Step::kWaitForClose: {
      try {
        for (;;) readCommand(kCloseTimeoutMs);
      } catch (const StepFailure& e) {
        if (std::string(e.what()) != "control connection closed by the client") throw;
      }
      break;
    }
    case Step::kCloseControl:
      closeFd(control_);
      break;
    case Step::kPause: {
      const auto until = Clock::now() + std::chrono::milliseconds(step.number);
      while (Clock::now() < until && !stopping_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      break;
    }
  }
}

}  // namespace dovra::test
