#include "platform/instance_lock.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdlib>
#include <functional>

#include "support/temp_dir.h"
#include "support/test_helpers.h"

namespace dovra {
namespace {

using Outcome = InstanceLock::Outcome;

// Tries the lock in a child process that first runs `become` (switches its runtime folder
// or its user); returns the child's outcome, or -1 when the child failed to set itself up.
int outcomeInChild(const std::string& name, const std::function<bool()>& become) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (!become()) _exit(100);
    Outcome outcome;
    auto lock = InstanceLock::acquire(name, outcome);
    _exit(static_cast<int>(outcome));
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 100) {
    return -1;
  }
  return WEXITSTATUS(status);
}

bool becomeNobody() {
  return setgroups(0, nullptr) == 0 && setresgid(65534, 65534, 65534) == 0 &&
         setresuid(65534, 65534, 65534) == 0;
}

class InstanceLockTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  test::ScopedEnv scope{"DOVRA_INSTANCE_SCOPE", dir.path().string()};
  test::ScopedEnv runtime{"XDG_RUNTIME_DIR", (dir.path() / "run-a").string()};
};

TEST_F(InstanceLockTest, HeldLockIsSeenWhateverTheRuntimeFolderAndFreedWithItsHolder) {
  Outcome outcome;
  auto held = InstanceLock::acquire("LOJABKPDOVRA", outcome);
  ASSERT_EQ(outcome, Outcome::Acquired);
  const auto otherRuntime = [this] {
    return setenv("XDG_RUNTIME_DIR", (dir.path() / "run-b").c_str(), 1) == 0;
  };
  const auto noRuntime = [] { return unsetenv("XDG_RUNTIME_DIR") == 0; };
  EXPECT_EQ(outcomeInChild("LOJABKPDOVRA", otherRuntime), static_cast<int>(Outcome::AlreadyHeld));
  EXPECT_EQ(outcomeInChild("LOJABKPDOVRA", noRuntime), static_cast<int>(Outcome::AlreadyHeld));
  // Another installation's name runs beside it.
  EXPECT_EQ(outcomeInChild("FILIALBKPDOVRA", otherRuntime), static_cast<int>(Outcome::Acquired));
  held.reset();
  EXPECT_EQ(outcomeInChild("LOJABKPDOVRA", otherRuntime), static_cast<int>(Outcome::Acquired));
}

TEST_F(InstanceLockTest, HeldLockIsSeenByAnotherUserAndTakenByThemOnceFree) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a child as another user";
  Outcome outcome;
  auto held = InstanceLock::acquire("LOJABKPDOVRA", outcome);
  ASSERT_EQ(outcome, Outcome::Acquired);
  EXPECT_EQ(outcomeInChild("LOJABKPDOVRA", becomeNobody), static_cast<int>(Outcome::AlreadyHeld));
  held.reset();
  EXPECT_EQ(outcomeInChild("LOJABKPDOVRA", becomeNobody), static_cast<int>(Outcome::Acquired));
  // And the other way round: what the other user took, this one cannot take.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    Outcome childOutcome = Outcome::Failed;
    std::unique_ptr<InstanceLock> lock;
    if (becomeNobody()) lock = InstanceLock::acquire("LOJABKPDOVRA", childOutcome);
    const char report = static_cast<char>(childOutcome);
    if (write(ready[1], &report, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char childOutcome = -1;
  ASSERT_EQ(read(ready[0], &childOutcome, 1), 1);
  close(ready[0]);
  EXPECT_EQ(childOutcome, static_cast<char>(Outcome::Acquired));
  Outcome again;
  auto probe = InstanceLock::acquire("LOJABKPDOVRA", again);
  EXPECT_EQ(again, Outcome::AlreadyHeld);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  auto after = InstanceLock::acquire("LOJABKPDOVRA", outcome);
  EXPECT_EQ(outcome, Outcome::Acquired);
}

TEST(InstanceLockName, LongAndOddNamesStayDistinctAndWithinTheSocketLimit) {
  const std::string a(300, 'x'), b = std::string(299, 'x') + "y";
  EXPECT_LE(InstanceLock::objectName(a).size(), 107u);
  EXPECT_NE(InstanceLock::objectName(a), InstanceLock::objectName(b));
  EXPECT_NE(InstanceLock::objectName("A/B"), InstanceLock::objectName("A%2FB"));
}

}  // namespace
}  // namespace dovra
