#include "browser/browser_fixture.hpp"

#include "store/channel_tables.hpp"
#include "store/config.hpp"
#include "store/setup_file.hpp"
#include "store/subproj.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;

fs::path BrowserTest::project(int n, const std::string& name) {
  const fs::path folder = data() / store::ProjectFolderName(n);
  fs::create_directories(folder);
  store::SetupValues setup;
  setup.Name = name;
  EXPECT_TRUE(store::write_setup_file(folder, n, setup));
  return folder;
}

fs::path BrowserTest::acquisition(int n, const std::string& folder, const std::string& title,
                                  bool counts, const std::string& comments) {
  const fs::path path = data() / store::ProjectFolderName(n) / folder;
  fs::create_directories(path);
  if (counts) testing::write_file(path / "counts.bin", "");
  EXPECT_TRUE(store::WriteAcquisitionIndex(path, title, comments));
  EXPECT_TRUE(store::write_setup_file(path, n, store::SetupValues{}));
  EXPECT_TRUE(store::SaveChannelTables(path, store::ChannelTables{}, store::GroupTables{}));
  return path;
}

int BrowserTest::line_with(const std::string& text) const {
  const auto lines = texts();
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i].find(text) != std::string::npos) return static_cast<int>(i);
  ADD_FAILURE() << "no line holds " << text;
  return -1;
}

} // namespace kestrova::browser
