#include "transfer/ftp_reply.h"

#include <gtest/gtest.h>

#include "transfer/ftp_errors.h"

namespace dovra {
namespace {

FtpReply assemble(const std::vector<std::string>& lines, size_t* used = nullptr) {
  FtpReplyAssembler assembler;
  size_t i = 0;
  while (i < lines.size()) {
    if (assembler.addLine(lines[i++])) break;
  }
  if (used) *used = i;
  return assembler.reply();
}

TEST(FtpReply, CodeIsTheFirstFourCharactersTrimmedAndReadAsANumber) {
  EXPECT_EQ(parseReplyCode("220 ready"), 220);
  EXPECT_EQ(parseReplyCode("220-first of many"), 220);
  EXPECT_EQ(parseReplyCode("226"), 226);
  EXPECT_EQ(parseReplyCode("Welcome"), 0);
  EXPECT_EQ(parseReplyCode("22x ready"), 0);
  EXPECT_EQ(parseReplyCode(""), 0);
}

// A multi-line greeting, and the texts of refused replies, are driven through the fault
// server; here the other ends of a multi-line reply.
TEST(FtpReply, MultiLineReplyEndsAtCodeAndBlankOrAtALineShorterThanFourCharacters) {
  size_t used = 0;
  FtpReply reply =
      assemble({"220-Welcome", "220-to the server", "and so on", "220 ready", "NEXT"}, &used);
  EXPECT_EQ(used, 4u);
  EXPECT_EQ(reply.numericCode, 220);
  // Every line gives its text from the fifth character on, also a line without a code.
  EXPECT_EQ(reply.text, (std::vector<std::string>{"Welcome", "to the server", "so on", "ready"}));
  EXPECT_EQ(std::string(EIdProtocolReplyError(220, reply.text).what()),
            "Welcome\r\nto the server\r\nso on\r\nready\r\n");
  reply = assemble({"211-Features", "SIZE", "211", "later"}, &used);
  EXPECT_EQ(used, 3u);
  EXPECT_EQ(reply.text, (std::vector<std::string>{"Features", "", ""}));
}

TEST(FtpReply, PasvWithOrWithoutParenthesesAndOnlySixNumbersUpTo255) {
  // Without parentheses the address is the text after the last blank.
  for (const char* text :
       {"Entering Passive Mode (10,0,0,5,19,137).", "Entering Passive Mode 10,0,0,5,19,137"}) {
    const auto address = parsePasvText(text);
    ASSERT_TRUE(address) << text;
    EXPECT_EQ(address->hostText(), "10.0.0.5");
    EXPECT_EQ(address->port, 5001);
  }
  for (const char* text :
       {"Entering Passive Mode (10,0,0,5,19)", "Entering Passive Mode (10,0,0,5,19,137,1)",
        "Entering Passive Mode (10,0,0,256,19,137)", "Entering Passive Mode (10,0,x,5,19,137)",
        "Entering Passive Mode", ""}) {
    EXPECT_FALSE(parsePasvText(text)) << text;
  }
}

TEST(FtpReply, DataHostFallsBackToTheControlPeerWhenThePasvAddressIsUnreachable) {
  const auto at = [](const char* text) { return *parsePasvText(text); };
  // The unspecified address: always the peer.
  EXPECT_EQ(chooseDataHost(at("(0,0,0,0,4,1)"), "127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(chooseDataHost(at("(0,0,0,0,4,1)"), "200.1.2.3"), "200.1.2.3");
  // A private address behind a public peer (address translation): the peer.
  EXPECT_EQ(chooseDataHost(at("(192,168,0,10,4,1)"), "200.1.2.3"), "200.1.2.3");
  EXPECT_EQ(chooseDataHost(at("(10,0,0,5,4,1)"), "200.1.2.3"), "200.1.2.3");
  EXPECT_EQ(chooseDataHost(at("(127,0,0,1,4,1)"), "200.1.2.3"), "200.1.2.3");
  // Otherwise the address as given.
  EXPECT_EQ(chooseDataHost(at("(10,0,0,5,4,1)"), "10.0.0.1"), "10.0.0.5");
  EXPECT_EQ(chooseDataHost(at("(200,1,2,4,4,1)"), "200.1.2.3"), "200.1.2.4");
  EXPECT_EQ(chooseDataHost(at("(127,0,0,2,4,1)"), "127.0.0.1"), "127.0.0.2");
}

TEST(FtpReply, SizeReply) {
  EXPECT_EQ(parseSizeReply(assemble({"213 5000"})), 5000);
  EXPECT_EQ(parseSizeReply(assemble({"213 file.zlib 77"})), 77);
  EXPECT_EQ(parseSizeReply(assemble({"213 6442450944"})), 6442450944LL);  // past 4 GiB
  EXPECT_EQ(parseSizeReply(assemble({"213 many"})), -1);
  EXPECT_EQ(parseSizeReply(assemble({"550 No such file"})), -1);
  EXPECT_EQ(parseSizeReply(assemble({"550 12"})), -1);
}

}  // namespace
}  // namespace dovra
