// The service client's blocks byte for byte, the output answer layout and the local
// refusals. No server is contacted (the client library is loaded).
#include <gtest/gtest.h>

#include "firebird/ib_service.h"
#include "support/test_helpers.h"

namespace dovra {
namespace {

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

using test::errorText;

TEST(ServiceParameterBlock, UserAndPasswordAsWindows1252AfterTheVersion) {
  TIBBackupService svc;
  svc.Params.SetValue("user_name", "SYSDBA");
  svc.Params.SetValue("password", "masterkey");
  EXPECT_EQ(svc.BuildSpb(), bytes({2, 2, 118, 0, 28, 6}) + "SYSDBA" + bytes({29, 9}) + "masterkey");
  svc.Params.SetValue("password", "");  // an empty DbPassword is not sent at all
  EXPECT_EQ(svc.BuildSpb(), bytes({2, 2, 118, 0, 28, 6}) + "SYSDBA");
  svc.Params.SetValue("user_name", "");
  EXPECT_EQ(svc.BuildSpb(), bytes({2, 2, 118, 0}));

  // Names are normalised, lines without a name or a separator are not sent.
  svc.Params.Add("ISC_SPB_User_Name=joão");
  svc.Params.Add("Password=x=y");
  svc.Params.Add(" =not sent");
  svc.Params.Add("no separator");
  EXPECT_EQ(svc.BuildSpb(), bytes({2, 2, 118, 0, 28, 4}) + "jo\xE3o" + bytes({29, 3}) + "x=y");
}

TEST(ServiceParameterBlock, OtherNamesAreRefused) {
  TIBBackupService svc;
  for (const auto& [line, message] : std::vector<std::pair<std::string, std::string>>{
           {"sql_role_name=ADMIN", "SPB Constant Not supported"},
           {"isc_spb_dbname=x", "SPB Constant Not supported"},
           {"colour=blue", "SPB Constant Unknown"}}) {
    svc.Params.Clear();
    svc.Params.Add(line);
    EXPECT_EQ(errorText([&] { svc.BuildSpb(); }), message) << line;
  }
  svc.Params.Clear();
  svc.Params.Add("password=" + std::string(256, 'x'));
  EXPECT_NE(errorText([&] { svc.BuildSpb(); }), "");
}

TEST(BackupRequest, VerboseBackupOfOneFile) {
  TIBBackupService svc;
  svc.Verbose = true;
  svc.DatabaseName = "/dados/ERP.fdb";
  svc.BackupFile.Add("/bkp/ERP_AUTO.fbk");
  EXPECT_EQ(svc.BuildStartRequest(), bytes({1, 106, 14, 0}) + "/dados/ERP.fdb" +
                                         bytes({108, 0, 0, 0, 0, 107, 5, 17, 0}) +
                                         "/bkp/ERP_AUTO.fbk");
}

TEST(BackupRequest, LongNamesUseTwoLengthBytesAndADatabaseIsRequired) {
  TIBBackupService svc;
  svc.DatabaseName = std::string(300, 'd');
  const std::string request = svc.BuildStartRequest();
  EXPECT_EQ(request.substr(0, 4), bytes({1, 106, 0x2c, 1}));
  EXPECT_EQ(request.size(), 4u + 300u + 5u);

  svc.DatabaseName.clear();
  svc.BackupFile.Add("x.fbk");
  EXPECT_EQ(errorText([&] { svc.BuildStartRequest(); }), "start Parameters missing or incorrect");
}

TEST(RestoreRequest, AsTheRestoreDialogueSetsItUp) {
  TIBRestoreService svc;
  svc.Verbose = true;
  svc.PageSize = 8192;
  svc.DatabaseName.Add("/bkp/ERP.fdb");
  svc.BackupFile.Add("/bkp/ERP.fbk");
  EXPECT_EQ(svc.BuildStartRequest(), bytes({2, 108, 0, 0x20, 0, 0, 107, 10, 0, 0x20, 0, 0}) +
                                         bytes({5, 12, 0}) + "/bkp/ERP.fbk" + bytes({106, 12, 0}) +
                                         "/bkp/ERP.fdb");
}

TEST(OutputAnswer, LineEndAndMalformedAnswers) {
  using Svc = TIBControlAndQueryService;
  std::string answer = bytes({62, 5, 0}) + "gbak:" + bytes({1});
  answer.resize(Svc::kOutputBufferSize, '\0');
  Svc::OutputAnswer line = Svc::parseOutputAnswer(answer);
  EXPECT_FALSE(line.finished);
  EXPECT_EQ(line.line, "gbak:");

  EXPECT_TRUE(Svc::parseOutputAnswer(bytes({62, 0, 0, 1})).finished);
  EXPECT_EQ(Svc::parseOutputAnswer(bytes({62, 4, 0}) + std::string("ab\0c", 4) + bytes({1})).line,
            "ab");

  for (const std::string& bad : {bytes({63, 0, 0, 1}), bytes({62, 3, 0}) + "abc" + bytes({2}),
                                 bytes({62, 9, 0}) + "abc", bytes({2, 1}), std::string()}) {
    EXPECT_EQ(errorText([&] { Svc::parseOutputAnswer(bad); }), "Unexpected Output buffer value");
  }
}

TEST(RestoreRequest, FromTheClientsStreamAndTheOnlineValidation) {
  TIBRestoreService restore;
  restore.DatabaseName.Add("/bkp/V.fdb");
  restore.BackupFile.Add("/bkp/ignored.fbk");
  restore.StdinSource = [](char*, size_t) { return size_t{0}; };
  EXPECT_EQ(restore.BuildStartRequest(), bytes({2, 108, 0, 0x20, 0, 0, 10, 0, 0x10, 0, 0}) +
                                             bytes({5, 5, 0}) + "stdin" + bytes({106, 10, 0}) +
                                             "/bkp/V.fdb");
  TIBValidationService validation;
  EXPECT_EQ(errorText([&] { validation.BuildStartRequest(); }),
            "start Parameters missing or incorrect");
  validation.DatabaseName = "/bkp/V.fdb";
  EXPECT_EQ(validation.BuildStartRequest(), bytes({30, 106, 10, 0}) + "/bkp/V.fdb");
}

TEST(InputAnswer, RequestsLinesAndMalformedAnswers) {
  using Svc = TIBControlAndQueryService;
  struct Case {
    std::string answer;
    std::string line;
    uint32_t wanted;
  };
  for (const Case& c : {Case{bytes({78, 0, 0, 4, 0, 62, 0, 0, 1}), "", 262144},
                        Case{bytes({62, 3, 0}) + "abc" + bytes({78, 0, 0, 0, 0, 1}), "abc", 0},
                        Case{bytes({2, 62, 2, 0}) + "ok" + bytes({1}), "ok", 0},
                        Case{bytes({78, 1, 2, 3, 4, 1}), "", 0x04030201}}) {
    const Svc::InputAnswer a = Svc::parseInputAnswer(c.answer);
    EXPECT_EQ(a.line, c.line);
    EXPECT_EQ(a.inputWanted, c.wanted);
  }
  for (const std::string& bad : {bytes({78, 0, 0}), bytes({62, 9, 0}) + "abc", bytes({99, 1}),
                                 bytes({62, 0, 0}), std::string()}) {
    EXPECT_EQ(errorText([&] { Svc::parseInputAnswer(bad); }), "Unexpected Output buffer value");
  }
}

// Attaching without a server name and starting unattached are driven through the backups;
// here the other ways in.
TEST(ServiceState, LocalRefusals) {
  TIBBackupService svc;
  EXPECT_FALSE(svc.Active());
  svc.Protocol = TProtocol::TCP;
  svc.ServerName = "";
  EXPECT_EQ(errorText([&] { svc.setActive(true); }), "Server Name Missing");
  EXPECT_FALSE(svc.Active());
  svc.ServerName = "srv/3051";
  EXPECT_EQ(svc.ServiceManagerName(), "srv/3051:service_mgr");
  EXPECT_EQ(errorText([&] { svc.ReadOutputLine(); }),
            "Cannot perform operation -- service is not attached");
  svc.Detach();  // harmless when detached
  svc.setActive(false);
  EXPECT_FALSE(svc.OutputFinished());
}

}  // namespace
}  // namespace dovra
