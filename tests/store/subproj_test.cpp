#include "store/subproj.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::store {
namespace {

using testing::FakeDialogs;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

TEST(AcquisitionIndex, TitleAndCommentsReadBack) {
  struct Case {
    const char* what;
    std::string title;
    std::string comments;
    std::string title_read;
    std::string comments_read;
  };
  const std::vector<Case> cases = {
      {"one line", "Run 1", "N2 young adults", "Run 1", "N2 young adults"},
      {"three lines", "Dose, 10 uM", "line one\r\nline two\nline three", "Dose, 10 uM",
       "line one\r\nline two\r\nline three"},
      {"quotes", "say \"hi\"", "a \"b\"", "say 'hi'", "a 'b'"},
      {"empty lines dropped", "T", "a\r\n\r\nb", "T", "a\r\nb"},
      {"nothing", "", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ASSERT_TRUE(WriteAcquisitionIndex(dir.path(), c.title, c.comments));
    EXPECT_EQ(ReadAcquisitionTitle(dir.path()), c.title_read);
    EXPECT_EQ(ReadAcquisitionComments(dir.path()), c.comments_read);
  }
}

TEST(AcquisitionIndex, FileLayoutAndOlderFiles) {
  EXPECT_EQ(AcquisitionIndexText("Run 1", "a\nb"), "\"Run 1\"\r\n\"a\r\nb\"\r\n");
  TempDir dir;
  EXPECT_EQ(ReadAcquisitionTitle(dir.path()), "");
  EXPECT_EQ(ReadAcquisitionComments(dir.path()), "");
  // Comments typed over three lines, as an earlier installation wrote them.
  write_file(dir / "subproj.dat", "\"Heat shock\"\r\n\"first\r\nsecond\r\nthird\"\r\n");
  EXPECT_EQ(ReadAcquisitionTitle(dir.path()), "Heat shock");
  EXPECT_EQ(ReadAcquisitionComments(dir.path()), "first\r\nsecond\r\nthird");
}

TEST(AcquisitionIndex, FieldEditsGoThroughTheBackup) {
  TempDir dir;
  const std::string original = AcquisitionIndexText("Old title", "line 1\r\nline 2");
  write_file(dir / "subproj.dat", original);
  FakeDialogs dialogs;

  // Scratch that a crash left beside both files goes with this edit.
  write_file(dir / "subproj.dat.tmp", "left by a crash");
  write_file(dir / "subproj.bak.tmp", "left by a crash");
  EXPECT_EQ(SetAcquisitionTitle(dir.path(), "New title", dialogs), "New title");
  EXPECT_FALSE(std::filesystem::exists(dir / "subproj.dat.tmp"));
  EXPECT_FALSE(std::filesystem::exists(dir / "subproj.bak.tmp"));
  EXPECT_EQ(read_file(dir / "subproj.bak"), original);
  EXPECT_EQ(ReadAcquisitionTitle(dir.path()), "New title");
  EXPECT_EQ(ReadAcquisitionComments(dir.path()), "line 1\r\nline 2");

  EXPECT_EQ(SetAcquisitionComments(dir.path(), "other\nnotes", dialogs), "OK");
  EXPECT_EQ(ReadAcquisitionTitle(dir.path()), "New title");
  EXPECT_EQ(ReadAcquisitionComments(dir.path()), "other\r\nnotes");
  EXPECT_TRUE(dialogs.messages().empty());
}

TEST(AcquisitionIndex, FieldEditsWithoutAFileOrOnError) {
  FakeDialogs dialogs;
  {
    TempDir dir;
    EXPECT_EQ(SetAcquisitionTitle(dir.path(), "T", dialogs), "T");
    EXPECT_EQ(SetAcquisitionComments(dir.path(), "C", dialogs), "OK");
    EXPECT_FALSE(std::filesystem::exists(dir / "subproj.dat"));
  }
  {
    // The backup cannot be written: "error", the file stays as it was.
    TempDir dir;
    write_file(dir / "subproj.dat", AcquisitionIndexText("Keep", "me"));
    std::filesystem::create_directory(dir / "subproj.bak");
    write_file(dir / "subproj.bak" / "x", "");
    EXPECT_EQ(SetAcquisitionTitle(dir.path(), "T", dialogs), "");
    EXPECT_EQ(SetAcquisitionComments(dir.path(), "C", dialogs), "");
    EXPECT_EQ(dialogs.messages(), (std::vector<std::string>{"error", "error"}));
    EXPECT_EQ(read_file(dir / "subproj.dat"), AcquisitionIndexText("Keep", "me"));
  }
  {
    // A file without its comments record: the title edit cannot keep them and changes nothing.
    TempDir dir;
    write_file(dir / "subproj.dat", "\"Only a title\"\r\n");
    dialogs.clear();
    EXPECT_EQ(SetAcquisitionTitle(dir.path(), "T", dialogs), "");
    EXPECT_EQ(read_file(dir / "subproj.dat"), "\"Only a title\"\r\n");
    EXPECT_EQ(SetAcquisitionComments(dir.path(), "C", dialogs), "OK");
    EXPECT_EQ(ReadAcquisitionTitle(dir.path()), "Only a title");
    EXPECT_EQ(ReadAcquisitionComments(dir.path()), "C");
    EXPECT_TRUE(dialogs.messages().empty());
  }
}

} // namespace
} // namespace kestrova::store
