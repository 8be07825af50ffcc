#include "platform/file_handle.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <utility>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace dovra {
namespace {

class FileHandleTest : public ::testing::Test {
 protected:
  // Writes `bytes` into a new file `name` and returns its path.
  std::string made(const std::string& name, const std::string& bytes) {
    const std::string path = dir.file(name);
    test::writeFile(path, bytes);
    return path;
  }

  test::TempDir dir{"file-handle"};
};

TEST_F(FileHandleTest, OpenModesCreateRefuseAndTruncateAsNamed) {
  FileHandle file;
  EXPECT_EQ(file.open(dir.file("missing"), FileOpenMode::read), ENOENT);
  EXPECT_FALSE(file.isOpen());

  const std::string existing = made("existing", "old content");
  EXPECT_EQ(file.open(existing, FileOpenMode::createNew), EEXIST);
  EXPECT_EQ(file.open(existing, FileOpenMode::createNewWriteOnly), EEXIST);
  EXPECT_FALSE(file.isOpen());
  EXPECT_EQ(test::readFile(existing), "old content");

  ASSERT_EQ(file.open(existing, FileOpenMode::createOrTruncate), 0);
  EXPECT_TRUE(file.isOpen());
  FileInfo info;
  ASSERT_EQ(file.info(info), 0);
  EXPECT_EQ(info.size, 0);
  EXPECT_TRUE(info.isRegular);
  EXPECT_FALSE(info.isFolder);

  FileHandle fresh;
  ASSERT_EQ(fresh.open(dir.file("fresh"), FileOpenMode::createNew), 0);
  EXPECT_EQ(fresh.write("abc", 3).bytes, 3u);
  char back[4] = {};
  EXPECT_EQ(fresh.readAt(back, 3, 0).bytes, 3u);
  EXPECT_EQ(std::string(back, 3), "abc");
}

TEST_F(FileHandleTest, AWriteOnlyFileRefusesReadsAndAReadOnlyOneRefusesWrites) {
  FileHandle writer;
  ASSERT_EQ(writer.open(dir.file("w"), FileOpenMode::createNewWriteOnly), 0);
  char byte = 0;
  const FileIo read = writer.readAt(&byte, 1, 0);
  EXPECT_EQ(read.bytes, 0u);
  EXPECT_NE(read.error, 0);

  FileHandle reader;
  ASSERT_EQ(reader.open(made("r", "x"), FileOpenMode::read), 0);
  const FileIo written = reader.write("y", 1);
  EXPECT_EQ(written.bytes, 0u);
  EXPECT_NE(written.error, 0);
  EXPECT_EQ(test::readFile(dir.file("r")), "x");
}

TEST_F(FileHandleTest, SequentialAndPositionalIoKeepTheirOwnPositions) {
  FileHandle file;
  ASSERT_EQ(file.open(dir.file("io"), FileOpenMode::createNew), 0);
  const std::string text = "0123456789";
  const FileIo written = file.write(text.data(), text.size());
  EXPECT_EQ(written.bytes, text.size());
  EXPECT_EQ(written.error, 0);

  int64_t at = -1;
  ASSERT_EQ(file.seek(0, FileSeekOrigin::current, at), 0);
  EXPECT_EQ(at, 10);

  // A positional read leaves the file position where it was.
  char middle[3] = {};
  EXPECT_EQ(file.readAt(middle, 3, 4).bytes, 3u);
  EXPECT_EQ(std::string(middle, 3), "456");
  ASSERT_EQ(file.seek(0, FileSeekOrigin::current, at), 0);
  EXPECT_EQ(at, 10);

  ASSERT_EQ(file.seek(2, FileSeekOrigin::begin, at), 0);
  EXPECT_EQ(at, 2);
  char two[2] = {};
  EXPECT_EQ(file.read(two, 2).bytes, 2u);
  EXPECT_EQ(std::string(two, 2), "23");
  ASSERT_EQ(file.seek(-3, FileSeekOrigin::end, at), 0);
  EXPECT_EQ(at, 7);
  ASSERT_EQ(file.seek(1, FileSeekOrigin::current, at), 0);
  EXPECT_EQ(at, 8);

  // The end of the file: no bytes and no error, for both kinds of read.
  char rest[8] = {};
  EXPECT_EQ(file.read(rest, sizeof rest).bytes, 2u);
  const FileIo atEnd = file.read(rest, sizeof rest);
  EXPECT_EQ(atEnd.bytes, 0u);
  EXPECT_EQ(atEnd.error, 0);
  const FileIo pastEnd = file.readAt(rest, sizeof rest, 100);
  EXPECT_EQ(pastEnd.bytes, 0u);
  EXPECT_EQ(pastEnd.error, 0);

  int64_t unchanged = 5;
  EXPECT_NE(file.seek(-1, FileSeekOrigin::begin, unchanged), 0);
  EXPECT_EQ(unchanged, 5);

  EXPECT_EQ(file.sync(), 0);
  EXPECT_EQ(file.syncData(), 0);
  FileInfo info;
  ASSERT_EQ(file.info(info), 0);
  EXPECT_EQ(info.size, 10);
  EXPECT_GT(info.modifiedSeconds, 0);
  EXPECT_GE(info.modifiedNanoseconds, 0);
  EXPECT_LT(info.modifiedNanoseconds, 1000000000);
  EXPECT_EQ(file.close(), 0);
  EXPECT_EQ(test::readFile(dir.file("io")), text);
}

TEST_F(FileHandleTest, OwnershipMovesWithTheObjectAndCloseIsIdempotent) {
  FileHandle first;
  ASSERT_EQ(first.open(made("a", "A"), FileOpenMode::read), 0);
  FileHandle second(std::move(first));
  EXPECT_FALSE(first.isOpen());  // NOLINT(bugprone-use-after-move): the contract says so
  ASSERT_TRUE(second.isOpen());
  char c = 0;
  EXPECT_EQ(second.readAt(&c, 1, 0).bytes, 1u);
  EXPECT_EQ(c, 'A');

  // Assigning over an open handle closes the file it had: its lock ends with it.
  FileHandle holder;
  ASSERT_EQ(holder.open(made("b", "B"), FileOpenMode::read), 0);
  ASSERT_TRUE(holder.lockExclusive());
  holder = std::move(second);
  ASSERT_TRUE(holder.isOpen());
  EXPECT_EQ(holder.readAt(&c, 1, 0).bytes, 1u);
  EXPECT_EQ(c, 'A');
  FileHandle other;
  ASSERT_EQ(other.open(dir.file("b"), FileOpenMode::read), 0);
  EXPECT_TRUE(other.lockExclusive());

  EXPECT_EQ(holder.close(), 0);
  EXPECT_FALSE(holder.isOpen());
  EXPECT_EQ(holder.close(), 0);
}

TEST_F(FileHandleTest, SharedLocksCoexistAndKeepAnExclusiveOneOutUntilClosed) {
  const std::string path = made("locked", "content");
  FileHandle reader1;
  FileHandle reader2;
  FileHandle writer;
  ASSERT_EQ(reader1.open(path, FileOpenMode::read), 0);
  ASSERT_EQ(reader2.open(path, FileOpenMode::read), 0);
  ASSERT_EQ(writer.open(path, FileOpenMode::read), 0);

  EXPECT_TRUE(reader1.lockShared());
  EXPECT_TRUE(reader2.lockShared());
  int error = 0;
  EXPECT_FALSE(writer.lockExclusive(&error));
  EXPECT_NE(error, 0);

  reader1.close();
  EXPECT_FALSE(writer.lockExclusive());
  reader2.close();
  EXPECT_TRUE(writer.lockExclusive());

  // An exclusive holder keeps both kinds out, but not reading the content.
  FileHandle late;
  ASSERT_EQ(late.open(path, FileOpenMode::read), 0);
  error = 0;
  EXPECT_FALSE(late.lockShared(&error));
  EXPECT_NE(error, 0);
  EXPECT_FALSE(late.lockExclusive());
  char head[7] = {};
  EXPECT_EQ(late.readAt(head, sizeof head, 0).bytes, sizeof head);
  EXPECT_EQ(std::string(head, sizeof head), "content");
}

TEST_F(FileHandleTest, TheExclusiveLockIsTheMarkThatKeepsAFileFromRemoval) {
  const std::string path = made("in-use", "data");
  FileHandle file;
  ASSERT_EQ(file.open(path, FileOpenMode::read), 0);
  ASSERT_TRUE(file.lockExclusive());
  EXPECT_FALSE(removeIfNotInUse(path));
  EXPECT_EQ(test::readFile(path), "data");
  file.close();
  EXPECT_TRUE(removeIfNotInUse(path));
  FileHandle gone;
  EXPECT_EQ(gone.open(path, FileOpenMode::read), ENOENT);
}

TEST_F(FileHandleTest, AFullDeviceStopsAWriteWithANoSpaceError) {
  EXPECT_TRUE(isNoSpaceError(ENOSPC));
  EXPECT_FALSE(isNoSpaceError(EACCES));
  EXPECT_FALSE(isNoSpaceError(0));

  test::SmallDisk disk(dir.path() / "small", "64k");
  if (!disk.mounted()) GTEST_SKIP() << "mounting a small disk needs root";
  FileHandle file;
  ASSERT_EQ(file.open((dir.path() / "small" / "big").string(), FileOpenMode::createNew), 0);
  const std::string block(256 * 1024, 'x');
  const FileIo io = file.write(block.data(), block.size());
  EXPECT_LT(io.bytes, block.size());
  EXPECT_TRUE(isNoSpaceError(io.error)) << io.error;
  FileInfo info;
  ASSERT_EQ(file.info(info), 0);
  EXPECT_EQ(info.size, static_cast<int64_t>(io.bytes));
}

}  // namespace
}  // namespace dovra
