#include "scheduler/scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <set>
#include <thread>
#include <vector>

#include "platform/posix_event_loop.h"
#include "support/fakes.h"

namespace dovra {
namespace {

// Records the starts and sets the flag the way the real worker would once it runs.
class RecordingLauncher final : public WorkerLauncher {
 public:
  explicit RecordingLauncher(RunState& state) : state_(state) {}
  bool start(WorkerKind kind) override {
    started.push_back(kind);
    if (kind == WorkerKind::Tauto && claimBackup) return state_.BackupRunning.tryClaim();
    return true;
  }
  bool running(WorkerKind kind) const override { return alive.count(kind) != 0; }
  int count(WorkerKind kind) const {
    int n = 0;
    for (WorkerKind k : started) n += k == kind;
    return n;
  }
  std::vector<WorkerKind> started;
  std::set<WorkerKind> alive;  // the workers that run now
  bool claimBackup = true;

 private:
  RunState& state_;
};

struct Balloons : UiObserver {
  void onUiEvent(const UiEvent& e) override {
    if (e.kind == UiEvent::Kind::Balloon) shown.push_back(e);
  }
  std::vector<UiEvent> shown;
};

class SchedulerTest : public ::testing::Test {
 protected:
  SchedulerTest() : window(loop), launcher(state), scheduler(state, clock, window, launcher) {
    window.setObserver(&balloons);
  }
  static double hm(int h, int n, int s = 0) { return (h * 3600.0 + n * 60 + s) / 86400.0; }

  PosixEventLoop loop;
  test::ManualClock clock;
  RunState state;
  WindowModel window;
  Balloons balloons;
  RecordingLauncher launcher;
  Scheduler scheduler;
};

TEST_F(SchedulerTest, UploadStartsStrictlyAfterItsTimeOnEveryTickWhileNotRunning) {
  state.FtpTime = hm(12, 0);
  clock.setTime(11, 59, 50);
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::TFTP), 0);
  clock.setTime(12, 0, 0);
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::TFTP), 0);  // not strictly later
  clock.setTime(12, 0, 0, 1);
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::TFTP), 1);
  clock.setTime(12, 0, 50);
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::TFTP), 2);
  state.FtpRunning.set(true);
  clock.setTime(12, 1, 40);
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::TFTP), 2);
  // After midnight the time test fails until the time comes again.
  state.FtpRunning.set(false);
  clock.setTime(0, 0, 30);
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::TFTP), 2);
}

TEST_F(SchedulerTest, BackupStartsInTheMinuteOfItsTimeWithSecondsIgnored) {
  state.BackupTime1 = hm(9, 30, 40);
  clock.setTime(9, 29, 59);
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::Tauto), 0);
  clock.setTime(9, 30, 5);
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::Tauto), 1);
  // Second tick of the minute while that backup runs: nothing.
  clock.setTime(9, 30, 55);
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::Tauto), 1);
  clock.setTime(9, 31, 45);
  state.BackupRunning.set(false);
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::Tauto), 1);
}

TEST_F(SchedulerTest, BothTimesInOneMinuteStartOneBackupAndAnEmptyTimeNone) {
  state.BackupTime1 = hm(16, 30);
  state.BackupTime2 = 0;
  clock.setTime(0, 0, 0);
  scheduler.Timer1Timer();  // "00:00" would match a zero time if it were not ignored
  EXPECT_EQ(launcher.count(WorkerKind::Tauto), 0);
  state.BackupTime2 = hm(16, 30);
  clock.setTime(16, 30, 10);
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::Tauto), 1);
  EXPECT_TRUE(state.BackupRunning);
}

TEST_F(SchedulerTest, ReminderAtSeventeenFiftyOnEachTickOfThatMinute) {
  clock.setTime(17, 49, 59);
  scheduler.Timer1Timer();
  EXPECT_TRUE(balloons.shown.empty());
  clock.setTime(17, 50, 1);
  scheduler.Timer1Timer();
  clock.setTime(17, 50, 51);
  scheduler.Timer1Timer();
  ASSERT_EQ(balloons.shown.size(), 2u);
  EXPECT_EQ(balloons.shown[0].title, "BackUp Dovra");
  EXPECT_EQ(balloons.shown[0].text, "Atenção, não deixe de fazer o bakup do sistema");
  EXPECT_EQ(balloons.shown[0].icon, BalloonIcon::Information);
  EXPECT_EQ(balloons.shown[0].timeout, 30);
}

TEST_F(SchedulerTest, NfeExportOnlyWhenEnabledAndNothingElseRunsWhileTheUploadMayStart) {
  clock.setTime(10, 0, 0);
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::TXML), 0);  // NfeEnabled off
  state.NfeEnabled = true;
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::TXML), 1);
  for (RunFlag* flag : {&state.BackupRunning, &state.FtpRunning, &state.XmlRunning}) {
    flag->set(true);
    scheduler.Timer1Timer();
    flag->set(false);
  }
  EXPECT_EQ(launcher.count(WorkerKind::TXML), 1);
  // During a backup the tick may still start the upload.
  state.FtpTime = hm(9, 0);
  state.BackupRunning.set(true);
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::TFTP), 1);
  EXPECT_EQ(launcher.count(WorkerKind::TXML), 1);
  EXPECT_EQ(launcher.count(WorkerKind::Tauto), 0);
}

// The archive check restores a whole database: it starts only in idle time, and only when
// the archive waits for it.
TEST_F(SchedulerTest, ArchiveCheckOnlyWhenDueAndNoBackupUploadOrRestoreRuns) {
  bool due = true;
  scheduler.setVerificationDue([&] { return due; });
  clock.setTime(10, 0, 0);
  using Change = std::function<void(bool on)>;
  const auto worker = [this](WorkerKind k) -> Change {
    return
        [this, k](bool on) { on ? void(launcher.alive.insert(k)) : void(launcher.alive.erase(k)); };
  };
  const std::vector<std::pair<const char*, Change>> cases = {
      {"idle", [](bool) {}},
      {"a backup runs", [this](bool on) { state.BackupRunning.set(on); }},
      {"an upload runs", [this](bool on) { state.FtpRunning.set(on); }},
      {"a restore runs", [this](bool on) { state.RestoreRunning.set(on); }},
      {"an automatic backup worker runs", worker(WorkerKind::Tauto)},
      {"an upload worker has not decided yet", worker(WorkerKind::TFTP)},
      {"the archive does not wait for it", [&due](bool on) { due = !on; }}};
  for (const auto& [what, change] : cases) {
    SCOPED_TRACE(what);
    launcher.started.clear();
    change(true);
    scheduler.Timer1Timer();
    change(false);
    EXPECT_EQ(launcher.count(WorkerKind::TVerifica), std::string(what) == "idle" ? 1 : 0);
  }
  // The NF-e export may run beside it.
  state.NfeEnabled = true;
  launcher.alive.insert(WorkerKind::TXML);
  launcher.started.clear();
  scheduler.Timer1Timer();
  EXPECT_EQ(launcher.count(WorkerKind::TVerifica), 1);
}

TEST(ThreadWorkerLauncher, NeverRunsTwoWorkersOfOneKind) {
  RunState state;
  ThreadWorkerLauncher launcher(state);
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  std::atomic<int> runs{0};
  launcher.setBody(WorkerKind::TFTP, [&](const RunSettings&) {
    ++runs;
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return release; });
  });
  EXPECT_TRUE(launcher.start(WorkerKind::TFTP));
  EXPECT_FALSE(launcher.start(WorkerKind::TFTP));
  EXPECT_FALSE(state.FtpRunning);  // the upload sets its own flag when it decides to work
  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  for (int i = 0; i < 500 && launcher.running(WorkerKind::TFTP); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(launcher.running(WorkerKind::TFTP));
  EXPECT_EQ(runs, 1);
}

TEST(ThreadWorkerLauncher, BackupClaimsItsFlagAndAFailedBodyStillFreesTheKind) {
  RunState state;
  ThreadWorkerLauncher launcher(state);
  EXPECT_FALSE(launcher.start(WorkerKind::Tauto));  // no body: nothing pretends to work
  EXPECT_FALSE(state.BackupRunning);
  std::atomic<bool> sawFlag{false};
  launcher.setBody(WorkerKind::Tauto, [&](const RunSettings& s) {
    sawFlag = state.BackupRunning.get() && s.DatabasePath == "db";
    state.BackupRunning.set(false);
    throw std::runtime_error("escapes the worker");
  });
  // Refused while the manual backup holds the flag.
  state.BackupRunning.set(true);
  EXPECT_FALSE(launcher.start(WorkerKind::Tauto));
  EXPECT_FALSE(launcher.running(WorkerKind::Tauto));
  state.BackupRunning.set(false);

  state.DatabasePath = "db";
  EXPECT_TRUE(launcher.start(WorkerKind::Tauto));
  for (int i = 0; i < 500 && launcher.running(WorkerKind::Tauto); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(sawFlag);
  EXPECT_TRUE(launcher.start(WorkerKind::Tauto));  // the kind is free again
  // The second worker uses this test's locals: it must be over before they go.
  for (int i = 0; i < 500 && launcher.running(WorkerKind::Tauto); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(launcher.running(WorkerKind::Tauto));
}

}  // namespace
}  // namespace dovra
