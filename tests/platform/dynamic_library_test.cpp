#include "platform/dynamic_library.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <utility>

#include "support/temp_dir.h"

namespace dovra {
namespace {

// zlib is loaded by the tests as the client library is by the program: by its file name,
// and called through an address looked up at run time.
#ifdef _WIN32
constexpr const char* kZlib = "zlib1.dll";
#else
constexpr const char* kZlib = "libz.so.1";
#endif

using VersionFn = const char* (*)();

TEST(DynamicLibrary, ALoadedLibraryGivesItsEntryPointsAndNoOthers) {
  DynamicLibrary library;
  EXPECT_FALSE(library.loaded());
  EXPECT_EQ(library.symbol("zlibVersion"), nullptr);
  ASSERT_TRUE(library.load(kZlib)) << library.errorText();
  EXPECT_TRUE(library.loaded());
  EXPECT_TRUE(library.errorText().empty());

  void* address = library.symbol("zlibVersion");
  ASSERT_NE(address, nullptr);
  const auto version = reinterpret_cast<VersionFn>(address);
  EXPECT_EQ(std::string(version()), std::string(zlibVersion()));
  EXPECT_EQ(library.symbol("no_such_entry_point"), nullptr);

  library.unload();
  EXPECT_FALSE(library.loaded());
  EXPECT_EQ(library.symbol("zlibVersion"), nullptr);
  library.unload();
}

TEST(DynamicLibrary, AMissingOrBrokenLibraryFailsWithTheSystemsReason) {
  DynamicLibrary library;
  EXPECT_FALSE(library.load("libdovra-no-such-library.so.7"));
  EXPECT_FALSE(library.loaded());
  EXPECT_FALSE(library.errorText().empty());

  // A file that exists but is no library.
  test::TempDir dir{"dynamic-library"};
  const std::string fake = dir.file("fake.so");
  test::writeFile(fake, "not a library");
  EXPECT_FALSE(library.load(fake));
  EXPECT_FALSE(library.errorText().empty());

  // A later good load forgets the failure.
  ASSERT_TRUE(library.load(kZlib)) << library.errorText();
  EXPECT_TRUE(library.errorText().empty());
}

TEST(DynamicLibrary, TheLibraryMovesWithTheObjectAndCanBeKeptForTheProcess) {
  DynamicLibrary first;
  ASSERT_TRUE(first.load(kZlib)) << first.errorText();
  DynamicLibrary second(std::move(first));
  EXPECT_FALSE(first.loaded());  // NOLINT(bugprone-use-after-move): the contract says so
  ASSERT_TRUE(second.loaded());
  EXPECT_NE(second.symbol("zlibVersion"), nullptr);

  DynamicLibrary third;
  third = std::move(second);
  ASSERT_TRUE(third.loaded());
  EXPECT_NE(third.symbol("zlibVersion"), nullptr);

  // Released, the object forgets the library, which stays loaded for the process.
  third.release();
  EXPECT_FALSE(third.loaded());
  EXPECT_EQ(third.symbol("zlibVersion"), nullptr);
}

}  // namespace
}  // namespace dovra
