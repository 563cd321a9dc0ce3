#include "store/tags.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace kestrova::store {
namespace {

using testing::read_file;
using testing::TempDir;
using testing::write_file;

TEST(Tags, SetTag) {
  struct Case {
    const char* what;
    std::optional<std::string> before; // nullopt: no tags_id.dat
    std::string key;
    std::string tag;
    bool written;
    std::optional<std::string> after;
  };
  const std::vector<Case> cases = {
      {"first tag creates the file", std::nullopt, "20240315_1430", "[K1]", true,
       "20240315_1430 [K1]\r\n"},
      {"tag already there", "A [K1]\r\nB\r\n", "A", "[K1]", false, "A [K1]\r\nB\r\n"},
      {"[K12] does not hold [K1]", "A [K12]\r\n", "A", "[K1]", true, "A [K12] [K1]\r\n"},
      {"[K1] does not hold [K10]", "A [K1]\r\n", "A", "[K10]", true, "A [K1] [K10]\r\n"},
      {"a tag as part of the key", "K1 [K2]\r\n", "K1", "K1", true, "K1 [K2] K1\r\n"},
      {"second tag appended", "A [K1]\r\n", "A", "[K2]", true, "A [K1] [K2]\r\n"},
      {"bare key gets a tag", "A [K1]\r\nB\r\n", "B", "[K2]", true, "A [K1]\r\nB [K2]\r\n"},
      {"new key at the end", "A [K1]", "C", "[K3]", true, "A [K1]\r\nC [K3]\r\n"},
      {"clear", "A [K1] [K2]\r\nB\r\n", "A", "", true, "A\r\nB\r\n"},
      {"clear a bare key", "A\r\n", "A", "", false, "A\r\n"},
      {"clear without a file", std::nullopt, "A", "", false, std::nullopt},
      {"key is a prefix of another", "AB [K1]\r\n", "A", "[K1]", true, "AB [K1]\r\nA [K1]\r\n"},
      {"every line of the key", "A\r\nA [K2]\r\n", "A", "[K2]", true, "A [K2]\r\nA [K2]\r\n"},
      {"key with a space refused", "A\r\n", "A B", "[K1]", false, "A\r\n"},
      {"tag with a line break refused", "A\r\n", "A", "[K1]\r\nX", false, "A\r\n"},
      {"empty key refused", std::nullopt, "", "[K1]", false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    if (c.before) write_file(dir / "tags_id.dat", *c.before);
    EXPECT_EQ(SetTag(dir.path(), c.key, c.tag), c.written);
    if (c.after) {
      EXPECT_EQ(read_file(dir / "tags_id.dat"), *c.after);
    } else {
      EXPECT_FALSE(std::filesystem::exists(dir / "tags_id.dat"));
    }
  }
}

TEST(Tags, ReadTagsAndFindKeys) {
  TempDir dir;
  EXPECT_EQ(ReadTags(dir.path(), "A"), "");
  EXPECT_EQ(FindKeysWithTag(dir.path(), "[K1]"), "");
  write_file(dir / "tags_id.dat",
             "A [K1] [K2]\r\n [K1]\r\nB\r\nC [K2] [K1]\r\nA [K3]\r\n[K1]x y\r\nD [K12]");
  struct ReadCase {
    const char* key;
    const char* tags;
  };
  for (const ReadCase c :
       {ReadCase{"A", "[K1] [K2]"}, ReadCase{"B", ""}, ReadCase{"C", "[K2] [K1]"},
        ReadCase{"D", "[K12]"}, ReadCase{"", ""}, ReadCase{"Z", ""}}) {
    EXPECT_EQ(ReadTags(dir.path(), c.key), c.tags) << c.key;
  }
  struct FindCase {
    const char* text;
    const char* keys;
  };
  for (const FindCase c : {FindCase{"[K1]", "A C"}, FindCase{"K1", ""}, FindCase{"[K12]", "D"},
                           FindCase{"[K2]", "A C"}, FindCase{"[K3]", "A"}, FindCase{"y", "[K1]x"},
                           FindCase{"[K9]", ""}, FindCase{"", ""}}) {
    EXPECT_EQ(FindKeysWithTag(dir.path(), c.text), c.keys) << c.text;
  }
}

TEST(Tags, TagsCompareWhole) {
  struct Case {
    const char* tags;
    const char* tag;
    bool held;
  };
  for (const Case c :
       {Case{"[K1]", "[K1]", true}, Case{"[K12]", "[K1]", false}, Case{"[K1]", "[K10]", false},
        Case{"[K10] [K1]", "[K1]", true}, Case{"[K1] [K2]", "[K2]", true},
        Case{"x[K1]", "[K1]", false}, Case{"[K1]  [K2]", "[K2]", true}, Case{"", "", false},
        Case{"[K1]", "", false}}) {
    EXPECT_EQ(TagsHold(c.tags, c.tag), c.held) << '"' << c.tags << "\" holds \"" << c.tag << '"';
  }
}

TEST(Tags, DeleteTags) {
  TempDir dir;
  EXPECT_TRUE(DeleteTags(dir.path()));
  write_file(dir / "tags_id.dat", "A [K1]\r\n");
  EXPECT_TRUE(DeleteTags(dir.path()));
  EXPECT_FALSE(std::filesystem::exists(dir / "tags_id.dat"));
  EXPECT_EQ(ReadTags(dir.path(), "A"), "");
}

} // namespace
} // namespace kestrova::store
