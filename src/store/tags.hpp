#pragma once

// tags_id.dat, the tag index of a project folder: plain lines (CR LF), each an acquisition
// folder name (the key), then for each tag a single space and the tag text. A line without a
// space is a key with no tags. Tags contain no spaces.

#include <filesystem>
#include <string>
#include <string_view>

namespace kestrova::store {

inline constexpr std::string_view kTagsFile = "tags_id.dat";

// True when the space-separated tag text `tags` holds `tag` as one whole tag: "[K12]" does not
// hold "[K1]". Every reader and writer of tags asks this one question.
bool TagsHold(std::string_view tags, std::string_view tag);

// The text after the first space of the first line whose key matches (lines whose first space
// is their first character are skipped); empty when there is none or the file is unreadable.
std::string ReadTags(const std::filesystem::path& project_folder, std::string_view key);

// The keys of all lines (with a key before a space) whose tags hold `text` as a whole tag, in
// file order, joined with single spaces. Empty for an empty text.
std::string FindKeysWithTag(const std::filesystem::path& project_folder, std::string_view text);

// Adds `tag` to the line of `key` (once: a line whose tags already hold it is left alone),
// adding a line "key tag" when the key has none; an empty tag cuts the key's line back to the
// bare key. The file is rewritten (atomically) only when something changed. Returns false when
// nothing was written: no change, a key that is empty or holds a space or line break, a tag
// that holds one, or a write failure.
bool SetTag(const std::filesystem::path& project_folder, std::string_view key,
            std::string_view tag);

// Removes tags_id.dat from the project folder if it exists. True when no file remains.
bool DeleteTags(const std::filesystem::path& project_folder);

} // namespace kestrova::store
