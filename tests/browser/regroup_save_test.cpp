// Saving regrouped groups into an acquisition recorded by the acquisition's writer: the report
// made afterwards uses the new groups, the backups bring the old ones back, and a save that
// fails at any step leaves the old groups on disk.

#include <gtest/gtest.h>

#include <algorithm>

#include "browser/browser_acquisition.hpp"
#include "browser/regroup_editor.hpp"
#include "common/event_pump.hpp"
#include "common/safe_file.hpp"
#include "reports/generate_report.hpp"
#include "reports/reanalysis_fixture.hpp"
#include "store/folder_lock.hpp"
#include "store/record_file.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/file_steps.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::browser {
namespace {

namespace fs = std::filesystem;
using kestrova::testing::FakeClock;
using kestrova::testing::FakeDialogs;
using kestrova::testing::read_file;
using kestrova::testing::TempDir;

std::pair<double, double> centre(const store::PlateGeometry& g, int row, int column) {
  const auto r = setup_editor::well_rect(g, row, column);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// A 2 x 2 plate on channels 0, 1, 16 and 17: wells A1 and B1 in group 0 "Ctrl", A2 and B2 in
// group 1 "Drug".
class RegroupSaveTest : public ::testing::Test {
protected:
  void SetUp() override {
    reports::testing::Recording recording;
    recording.times = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    folder = reports::testing::write_recording(dir.path(), "20210316_1405", recording);
    old_names = read_file(folder / "groups.dat");
    old_channels = read_file(folder / "chgroup.dat");
  }
  RegroupAcquisition acquisition() {
    RegroupAcquisition a;
    a.folder = folder;
    store::GroupTables groups;
    EXPECT_TRUE(store::LoadGroupNames(folder, 1, groups, dialogs));
    EXPECT_TRUE(store::LoadChannelGroups(folder, 1, groups, dialogs));
    a.groups = groups.main();
    EXPECT_TRUE(store::ReadPlateFormat(dir.path(), "wtest", a.plate).ok);
    return a;
  }
  std::string report() {
    reports::GenerateRequest r;
    r.acquisition_folder = folder;
    r.data_folder = dir.path();
    r.settings = reports::default_report_settings(",");
    r.settings.Bin = 5;
    r.open_result = false;
    kestrova::testing::FakeShell shell;
    common::NullEventPump pump;
    reports::ReportServices services{dialogs, shell, pump, clock};
    const auto result = reports::generate_report(r, services);
    EXPECT_TRUE(result.ok) << ::testing::PrintToString(dialogs.texts());
    return result.ok ? read_file(result.report) : std::string();
  }
  bool on_disk_unchanged() const {
    return read_file(folder / "groups.dat") == old_names &&
           read_file(folder / "chgroup.dat") == old_channels;
  }
  std::vector<std::string> partial_files() const {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(folder))
      if (e.path().extension() == ".new" || e.path().extension() == ".tmp" ||
          e.path().filename().string().starts_with("."))
        found.push_back(e.path().filename().string());
    return found;
  }

  TempDir dir;
  fs::path folder;
  std::string old_names, old_channels;
  FakeDialogs dialogs;
  FakeClock clock{{2024, 3, 5, 14, 7, 33, 0}};
};

TEST_F(RegroupSaveTest, TheReportOfARegroupedAcquisitionUsesTheNewGroupsAndBackupsRestoreTheOld) {
  const std::string before = report();
  ASSERT_NE(before.find("\r\nA2,\"001_Drug\","), std::string::npos) << before;

  RegroupEditor editor(acquisition());
  const store::PlateGeometry& g = acquisition().plate.geometry;
  dialogs.script_answer(common::Answer::Yes);
  ASSERT_TRUE(editor.clear(dialogs));
  // Group 0: A1 by a click. Group 1: B1 and B2 by a drag.
  auto [x, y] = centre(g, 0, 0);
  editor.press(x, y, MouseButton::Left);
  editor.release(x, y, MouseButton::Left);
  dialogs.script_input("Alpha");
  ASSERT_TRUE(editor.rename(dialogs));
  editor.select_entry(1);
  std::tie(x, y) = centre(g, 1, 0);
  editor.press(x, y, MouseButton::Left);
  std::tie(x, y) = centre(g, 1, 1);
  editor.release(x, y, MouseButton::Left);
  dialogs.script_input("Beta");
  ASSERT_TRUE(editor.rename(dialogs));
  ASSERT_TRUE(on_disk_unchanged()) << "nothing is written before leaving";

  dialogs.clear();
  dialogs.script_answer(common::Answer::Yes);
  const auto left = editor.leave(dialogs, clock);
  EXPECT_TRUE(left.saved);
  EXPECT_FALSE(left.after_reopen);
  EXPECT_EQ(dialogs.messages(), (std::vector<std::string>{"Do you like to Save Changes?",
                                                          "New Groups applied and saved"}));
  for (const char* backup : {"groups.bak", "groups246503051407.bak"})
    EXPECT_EQ(read_file(folder / backup), old_names) << backup;
  for (const char* backup : {"chgroup.bak", "chgroup246503051407.bak"})
    EXPECT_EQ(read_file(folder / backup), old_channels) << backup;
  EXPECT_TRUE(partial_files().empty());

  const std::string regrouped = report();
  for (const char* line : {"\r\nA1,\"000_Alpha\",", "\r\nB1,\"001_Beta\",", "\r\nA2,\"999_Free\",",
                           "\r\nB2,\"001_Beta\","})
    EXPECT_NE(regrouped.find(line), std::string::npos) << line << "\n" << regrouped;

  // A reopened editor reads the saved groups back.
  RegroupEditor reopened(acquisition());
  EXPECT_EQ(reopened.groups(), editor.groups());

  ASSERT_TRUE(restore_group_backups(folder, "", clock.now()));
  EXPECT_TRUE(on_disk_unchanged());
  EXPECT_EQ(report(), before);
}

// Failing or killing the save at each of its file steps: every reader (the report, the
// browser's tables) then sees the old groups with the old channels or the new with the new,
// never a mix, and nothing of the save is left over once the folder has been opened again.
TEST_F(RegroupSaveTest, ASaveFailedOrKilledAtAnyStepLeavesEveryReaderOneWholeSetOfGroups) {
  store::GroupTable edited = acquisition().groups;
  edited.channel_group[17] = 0;
  edited.names[1] = "Renamed";
  const auto reset = [&] {
    for (const auto& e : fs::directory_iterator(folder)) {
      const std::string name = e.path().filename().string();
      if (name.starts_with(".") || e.path().extension() == ".bak" || name == "commit.jnl")
        fs::remove(e.path());
    }
    kestrova::testing::write_file(folder / "groups.dat", old_names);
    kestrova::testing::write_file(folder / "chgroup.dat", old_channels);
  };
  // What the readers see: "old", "new", or the mixture.
  const std::string old_report = report();
  const auto view = [&](const std::string& new_report) {
    const store::GroupTable browser = LoadAcquisitionTables(folder, dir.path(), 1, dialogs).groups;
    const std::string text = report();
    if (text == old_report && browser == acquisition().groups && on_disk_unchanged())
      return std::string("old");
    if (text == new_report && browser == edited) return std::string("new");
    return text;
  };
  const auto steps = kestrova::testing::file_steps_of(
      [&] { ASSERT_TRUE(save_acquisition_groups(folder, edited, clock.now())); });
  const std::string new_report = report();
  reset();
  ASSERT_EQ(view(new_report), "old");
  for (std::size_t step = 1; step <= steps.size(); ++step) {
    SCOPED_TRACE(steps[step - 1]);
    reset();
    bool saved = false;
    {
      std::size_t taken = 0;
      const common::FileStepHook fail(
          [&](common::FileStep, const fs::path&) { return ++taken != step; });
      saved = save_acquisition_groups(folder, edited, clock.now());
    }
    EXPECT_EQ(view(new_report), saved ? "new" : "old");
    EXPECT_TRUE(partial_files().empty()) << ::testing::PrintToString(partial_files());
    EXPECT_FALSE(fs::exists(folder / "commit.jnl"));

    reset();
    ASSERT_TRUE(kestrova::testing::kill_at_file_step(
        static_cast<int>(step), [&] { save_acquisition_groups(folder, edited, clock.now()); }));
    const std::string seen = view(new_report);
    EXPECT_TRUE(seen == "old" || seen == "new") << seen;
    // The next save sweeps what the kill left.
    ASSERT_TRUE(save_acquisition_groups(folder, edited, clock.now()));
    EXPECT_TRUE(partial_files().empty()) << ::testing::PrintToString(partial_files());
  }
  // The window's leave reports a failed save with the folder.
  reset();
  RegroupEditor editor(acquisition());
  dialogs.clear();
  dialogs.script_answer(common::Answer::Yes);
  {
    const common::FileStepHook fail(
        [](common::FileStep step, const fs::path&) { return step != common::FileStep::Sync; });
    EXPECT_FALSE(editor.leave(dialogs, clock).saved);
  }
  EXPECT_EQ(dialogs.messages().back(), "Error updating group files at " + folder.string());
  EXPECT_TRUE(on_disk_unchanged());
}

TEST_F(RegroupSaveTest, BackupsOfTheSameMinuteKeepTheGroupsFromBeforeTheFirstSave) {
  store::GroupTable first = acquisition().groups;
  first.names[0] = "First";
  store::GroupTable second = first;
  second.names[0] = "Second";
  ASSERT_TRUE(save_acquisition_groups(folder, first, clock.now()));
  clock.advance_ms(20'000); // same minute
  ASSERT_TRUE(save_acquisition_groups(folder, second, clock.now()));
  EXPECT_EQ(read_file(folder / "groups246503051407.bak"), old_names);
  EXPECT_EQ(read_file(folder / "groups.bak"), store::GroupNamesText(first));
  EXPECT_EQ(read_file(folder / "groups.dat"), store::GroupNamesText(second));
  // The dated pair restores the groups from before both saves.
  ASSERT_TRUE(restore_group_backups(folder, "246503051407", clock.now()));
  EXPECT_TRUE(on_disk_unchanged());
  EXPECT_FALSE(restore_group_backups(folder, "000000000000", clock.now()));
  EXPECT_TRUE(on_disk_unchanged());
}

TEST_F(RegroupSaveTest, LeavingWithoutSavingChangesNoFile) {
  RegroupEditor editor(acquisition());
  dialogs.script_answer(common::Answer::Yes);
  editor.clear(dialogs);
  dialogs.script_answer(common::Answer::No);
  const auto left = editor.leave(dialogs, clock);
  EXPECT_FALSE(left.asked_to_save);
  EXPECT_EQ(left.after_reopen, "Original groups restored");
  EXPECT_TRUE(on_disk_unchanged());
  for (const auto& e : fs::directory_iterator(folder))
    EXPECT_NE(e.path().extension(), ".bak");
}

// While an acquisition records into the folder (its lock held), saving new groups and restoring
// backups are refused and nothing is written; the operator is told which acquisition holds it.
TEST_F(RegroupSaveTest, AFolderBeingRecordedKeepsItsGroups) {
  ASSERT_TRUE(save_acquisition_groups(folder, acquisition().groups, clock.now()));
  const std::string names = read_file(folder / "groups.dat");
  const std::string channels = read_file(folder / "chgroup.dat");
  const auto files = [&] {
    std::vector<std::string> all;
    for (const auto& e : fs::directory_iterator(folder))
      all.push_back(e.path().filename().string() + ":" + read_file(e.path()));
    std::sort(all.begin(), all.end());
    return all;
  };
  auto lock = store::FolderLock::acquire(folder, "acquisition \"night\"");
  ASSERT_TRUE(lock);
  const auto before = files();
  RegroupEditor editor(acquisition());
  dialogs.script_answer(common::Answer::Yes);
  editor.clear(dialogs);
  dialogs.clear();
  dialogs.script_answer(common::Answer::Yes);
  const auto left = editor.leave(dialogs, clock);
  EXPECT_TRUE(left.asked_to_save);
  EXPECT_FALSE(left.saved);
  EXPECT_EQ(left.after_reopen, "Original groups restored");
  EXPECT_EQ(dialogs.messages(),
            (std::vector<std::string>{"Do you like to Save Changes?",
                                      "Saving new groups is not possible while an acquisition "
                                      "records into " +
                                          folder.string() + " (acquisition \"night\")."}));
  EXPECT_FALSE(save_acquisition_groups(folder, store::GroupTable{}, clock.now()));
  EXPECT_FALSE(restore_group_backups(folder, "", clock.now()));
  EXPECT_EQ(files(), before);

  EXPECT_EQ(read_file(folder / "groups.dat"), names);
  EXPECT_EQ(read_file(folder / "chgroup.dat"), channels);
  lock.reset();
  EXPECT_TRUE(restore_group_backups(folder, "", clock.now()));
}

TEST_F(RegroupSaveTest, AnAcquisitionWithoutGroupFilesGetsThemWithoutBackups) {
  fs::remove(folder / "groups.dat");
  fs::remove(folder / "chgroup.dat");
  store::GroupTable groups;
  ASSERT_TRUE(save_acquisition_groups(folder, groups, clock.now()));
  EXPECT_EQ(read_file(folder / "groups.dat"), store::GroupNamesText(groups));
  EXPECT_EQ(read_file(folder / "chgroup.dat"), store::ChannelGroupsText(groups));
  for (const auto& e : fs::directory_iterator(folder))
    EXPECT_NE(e.path().extension(), ".bak");
}

} // namespace
} // namespace kestrova::browser
