// A run's outcome from RunOutcome through the window model to the headless front end's
// lines: one end event per run whatever happens, the first failure's line and log, the
// archive's size on disk, delivered on the main thread in order with the window's events.
#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "core/run_report.h"
#include "core/window_model.h"
#include "headless/headless_front_end.h"
#include "platform/posix_event_loop.h"
#include "support/temp_dir.h"

namespace dovra {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

class RunReportLines : public ::testing::Test {
 protected:
  RunReportLines() : out(std::tmpfile()), front(out) { window.setObserver(&front); }
  ~RunReportLines() override { std::fclose(out); }

  // Every line written so far.
  Lines lines() {
    std::fflush(out);
    std::rewind(out);
    Lines all;
    char buffer[4096];
    std::string line;
    while (std::fgets(buffer, sizeof buffer, out)) {
      line += buffer;
      if (!line.empty() && line.back() == '\n') {
        line.pop_back();
        all.push_back(line);
        line.clear();
      }
    }
    std::fseek(out, 0, SEEK_END);
    return all;
  }

  static RunReport backup(const char* kind) {
    return {.kind = RunReport::Kind::Backup, .backupKind = kind};
  }

  test::TempDir dir;
  PosixEventLoop loop;
  WindowModel window{loop};
  std::FILE* out;
  HeadlessFrontEnd front;
};

TEST_F(RunReportLines, ADoneRunGivesTheArchiveAndItsSizeOnDiskAndNothingAfter) {
  const std::string archive = (dir.path() / "ERP.zlib").string();
  test::writeFile(archive, std::string(1234, 'z'));
  {
    RunOutcome outcome(window, backup("automatic"));
    outcome.started();
    outcome.done(archive);
    // Once the run is done, later failures and a second done change nothing.
    outcome.fail("erro: late");
    outcome.done(archive, 1);
  }
  EXPECT_EQ(lines(), (Lines{R"({"event":"backup","state":"started","kind":"automatic"})",
                            R"({"event":"backup","state":"done","kind":"automatic","archive":")" +
                                archive + R"(","bytes":1234})"}));
}

TEST_F(RunReportLines, AFailedRunGivesItsFirstFailureOnceAndADoneAfterItIsIgnored) {
  {
    RunOutcome outcome(window, backup("manual"));
    outcome.started();
    outcome.fail("erro: primeiro\r\nsegunda linha", "/bkp/ERP_NFE.txt");
    outcome.fail("erro: depois", "/bkp/outro.txt");
    outcome.done("/bkp/ERP.zlib", 10);
    EXPECT_EQ(lines().size(), 1u);  // the end event waits for the end of the run
  }
  EXPECT_EQ(lines().at(1),
            R"({"event":"backup","state":"failed","kind":"manual",)"
            R"("error":"erro: primeiro\r\nsegunda linha","log":"/bkp/ERP_NFE.txt"})");

  // A failure whose log could not be written names none; a run that ends early, neither
  // done nor failed, still ends with a failure.
  {
    RunOutcome outcome(window, backup("automatic"));
    outcome.fail("erro: disco cheio");
  }
  { RunOutcome outcome(window, backup("automatic")); }
  const Lines all = lines();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(
      all[2],
      R"({"event":"backup","state":"failed","kind":"automatic","error":"erro: disco cheio"})");
  EXPECT_EQ(all[3], R"({"event":"backup","state":"failed","kind":"automatic","error":""})");
}

TEST_F(RunReportLines, UploadsCarryTheirSizeOnceKnownAndExportsTheirCount) {
  const RunReport upload{.kind = RunReport::Kind::Upload, .archive = "/bkp/ERP.zlib"};
  {
    RunOutcome refused(window, upload);
    refused.fail("Socket Error # 111\r\nConnection refused.");
  }
  {
    RunOutcome cut(window, upload);
    cut.setBytes(3000);
    cut.fail("The remote file holds 2048 of 3000 bytes.");
  }
  {
    RunOutcome sent(window, upload);
    sent.setBytes(3000);
    sent.done("/bkp/ERP.zlib", 3000, "/12345678000190/ERP.zlib");
  }
  window.report({.kind = RunReport::Kind::Export, .documents = 3});
  EXPECT_EQ(lines(),
            (Lines{R"({"event":"upload","state":"failed","archive":"/bkp/ERP.zlib",)"
                   R"("error":"Socket Error # 111\r\nConnection refused."})",
                   R"({"event":"upload","state":"failed","archive":"/bkp/ERP.zlib","bytes":3000,)"
                   R"("error":"The remote file holds 2048 of 3000 bytes."})",
                   R"({"event":"upload","state":"done","archive":"/bkp/ERP.zlib","bytes":3000,)"
                   R"("remote":"/12345678000190/ERP.zlib"})",
                   R"({"event":"export","documents":3})"}));
}

TEST_F(RunReportLines, SizesBeyondFourGigabytesAreWrittenWhole) {
  window.report({.kind = RunReport::Kind::Backup,
                 .state = RunReport::State::Done,
                 .backupKind = "automatic",
                 .archive = "/bkp/ERP.zlib",
                 .bytes = 5'000'000'123LL});
  EXPECT_EQ(lines(), Lines{R"({"event":"backup","state":"done","kind":"automatic",)"
                           R"("archive":"/bkp/ERP.zlib","bytes":5000000123})"});
}

// A worker's outcome reaches the front end on the main thread, after the window changes
// the worker made before it and before those it made after.
TEST_F(RunReportLines, AWorkersEventsArriveOnTheMainThreadInTheOrderTheyWereMade) {
  std::thread worker([this] {
    RunOutcome outcome(window, backup("automatic"));
    outcome.started();
    window.memoAdd("MemoBackup", "erro: sem servidor");
    outcome.fail("erro: sem servidor");
    window.memoClear("MemoBackup");
  });
  worker.join();
  EXPECT_TRUE(lines().empty());  // nothing is written from the worker's thread
  EXPECT_TRUE(loop.runUntil([this] { return lines().size() == 4; }, 5s));
  EXPECT_EQ(lines(), (Lines{R"({"event":"backup","state":"started","kind":"automatic"})",
                            R"({"event":"memo","name":"MemoBackup","line":"erro: sem servidor"})",
                            R"({"event":"memo_clear","name":"MemoBackup"})",
                            R"({"event":"backup","state":"failed","kind":"automatic",)"
                            R"("error":"erro: sem servidor"})"}));
}

}  // namespace
}  // namespace dovra
