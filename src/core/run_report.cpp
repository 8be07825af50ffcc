#include "core/run_report.h"

#include "core/window_model.h"
#include "platform/paths.h"

namespace dovra {

const char* reportStateName(RunReport::State state) {
  switch (state) {
    case RunReport::State::Started:
      return "started";
    case RunReport::State::Failed:
      return "failed";
    case RunReport::State::Done:
      break;
  }
  return "done";
}

RunOutcome::RunOutcome(WindowModel& window, RunReport base)
    : window_(window), base_(std::move(base)) {}

RunOutcome::~RunOutcome() {
  if (ended_) return;
  try {
    RunReport r = base_;
    r.state = RunReport::State::Failed;
    r.error = error_;
    r.log = log_;
    window_.report(r);
  } catch (...) {
    // The event is informative; the run's own state is already settled.
  }
}

void RunOutcome::started() {
  RunReport r = base_;
  r.state = RunReport::State::Started;
  r.bytes = -1;
  window_.report(r);
}

void RunOutcome::fail(const std::string& error, const std::string& log) {
  if (failed_ || ended_) return;
  failed_ = true;
  error_ = error;
  log_ = log;
}

void RunOutcome::done(const std::string& archive, int64_t bytes, const std::string& remote) {
  if (failed_ || ended_) return;
  ended_ = true;
  RunReport r = base_;
  r.state = RunReport::State::Done;
  r.archive = archive;
  r.bytes = bytes;
  r.remote = remote;
  window_.report(r);
}

void RunOutcome::done(RunReport details) {
  if (failed_ || ended_) return;
  ended_ = true;
  details.kind = base_.kind;
  details.state = RunReport::State::Done;
  window_.report(details);
}

void RunOutcome::done(const std::string& archive) {
  done(archive, fileSize(archive));
}

}  // namespace dovra
