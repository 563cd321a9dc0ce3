// The experiment browser window's panels besides the plots: the group re-assignment editor
// (view mode 3), the track view (view mode 6), the picture, ASCII and joint report exports, and
// the report window for the current acquisition. The rules live in the Qt-free cores; this file
// copies their lists and texts into the controls and hands back what the operator did.

// The plot code first: Qt's "slots" macro would clash with a member of that name.
#include "browser/plot_view.hpp"

#include "browser/browser_window.hpp"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "browser/acquisition_log_view.hpp"
#include "browser/acquisition_log_window.hpp"
#include "browser/export_files.hpp"
#include "browser/joint_report.hpp"
#include "browser/plot_draw.hpp"
#include "browser/regroup_editor.hpp"
#include "browser/track_run.hpp"
#include "common/dialogs.hpp"
#include "common/number_format.hpp"
#include "reports/counts_replace.hpp"
#include "ui/named_widget.hpp"
#include "ui/picture_box.hpp"
#include "ui/qt_text.hpp"

namespace kestrova::browser {

namespace {

namespace fs = std::filesystem;
using ui::fill_items;
using ui::named;
using ui::named_button;
using ui::qs;
using ui::str;

constexpr common::Rgb kWhite{255, 255, 255};
// Export Data lets the window take events once per block of steps: often enough to stay
// responsive, seldom enough that a long recording is not slowed by event handling.
constexpr int kStepsPerEventRun = kTrackBlockSamples;

MouseButton editor_button(Qt::MouseButton button) {
  switch (button) {
  case Qt::LeftButton:
    return MouseButton::Left;
  case Qt::RightButton:
    return MouseButton::Right;
  default:
    return MouseButton::Other;
  }
}

} // namespace

int FrmOffline::view_mode() const {
  return panel_mode_ >= 0 ? panel_mode_ : static_cast<int>(browser_->plots().mode());
}

QWidget* FrmOffline::build_group_panel() {
  Framegrup = named(new QGroupBox("Plate Groups", plot_area), "Framegrup");
  auto* grid = new QGridLayout(Framegrup);
  combogrup2 = named(new QComboBox(Framegrup), "combogrup2");
  combogrup2->setToolTip("Double-click or Enter: rename the group");
  combogrup2->setMinimumContentsLength(14);
  auto* rename = named_button(Framegrup, "cmd_rename2", "Rename...");
  connect(rename, &QPushButton::clicked, this, &FrmOffline::combogrup2_DblClick);
  lstgrup2 = named(new QListWidget(Framegrup), "lstgrup2");
  lstchgrup2 = named(new QListWidget(Framegrup), "lstchgrup2");
  Combo_sets = named(new QComboBox(Framegrup), "Combo_sets");
  cmd_goset = named_button(Framegrup, "cmd_goset", "Go...");
  Cmd_clear = named_button(Framegrup, "Cmd_clear", "CLEAR LIST");
  cmdcancelgrups = named_button(Framegrup, "cmdcancelgrups", "EXIT Group Edition");

  auto* group = new QHBoxLayout;
  group->addWidget(new QLabel("Group:", Framegrup));
  group->addWidget(combogrup2, 1);
  group->addWidget(rename);
  grid->addLayout(group, 0, 0, 1, 2);
  grid->addWidget(new QLabel("Assigned channels:", Framegrup), 1, 0);
  grid->addWidget(new QLabel("Free channels:", Framegrup), 1, 1);
  grid->addWidget(lstgrup2, 2, 0);
  grid->addWidget(lstchgrup2, 2, 1);
  auto* commands = new QVBoxLayout;
  auto* set = new QHBoxLayout;
  set->addWidget(new QLabel("SET:", Framegrup));
  set->addWidget(Combo_sets, 1);
  set->addWidget(cmd_goset);
  commands->addLayout(set);
  commands->addWidget(Cmd_clear);
  commands->addStretch(1);
  commands->addWidget(cmdcancelgrups);
  grid->addLayout(commands, 0, 2, 3, 1);
  grid->setColumnStretch(0, 1);
  grid->setColumnStretch(1, 1);
  Framegrup->hide();
  return Framegrup;
}

void FrmOffline::open_group_editor() {
  if (loading_ || regroup_ || browser_->tables() == nullptr) return;
  leave_panels();
  Timer_play->stop();
  const AcquisitionTables& tables = *browser_->tables();
  regroup_ = std::make_unique<RegroupEditor>(RegroupAcquisition{
      browser_->acquisition_path(), tables.groups, tables.channels, tables.plate});
  panel_mode_ = kGroupEditorMode;
  filling_ = true;
  fill_items(Combo_sets, regroup_->set_sizes());
  Combo_sets->setCurrentIndex(regroup_->selected_set());
  filling_ = false;
  enable_outside_editor(false);
  Picreal->clear(kWhite);
  show_group_editor();
}

void FrmOffline::enable_outside_editor(bool enabled) {
  for (QWidget* w : std::initializer_list<QWidget*>{
           Cmd_report, Cmd_leegroups, cmdchannels, Cmd_analyze, Cmd_main, Listpj, txt_search,
           cmd_lupa, frmtxt_threshold, cmb_modeanalisis, cmd_track, frame_plotbutton})
    w->setEnabled(enabled);
  mnadvanced->setEnabled(enabled);
  show_restore_entry();
  // The panel takes the place of the plot controls; the page controls have nothing to show.
  plot_controls->setVisible(enabled);
  Framegrup->setVisible(!enabled);
  if (!enabled) {
    show_page_controls(false);
    chk_bmp->hide();
  }
}

void FrmOffline::show_group_editor() {
  if (!regroup_) return;
  filling_ = true;
  fill_items(combogrup2, regroup_->group_entries());
  combogrup2->setCurrentIndex(regroup_->selected_entry());
  fill_items(lstgrup2, regroup_->group_wells());
  fill_items(lstchgrup2, regroup_->free_channels());
  filling_ = false;
  regroup_->draw(*Picreal);
}

void FrmOffline::combogrup2_Click() {
  if (!regroup_ || filling_) return;
  regroup_->select_entry(combogrup2->currentIndex());
  show_group_editor();
}

void FrmOffline::combogrup2_DblClick() {
  if (regroup_ && regroup_->rename(services_.dialogs)) show_group_editor();
}

void FrmOffline::Combo_sets_Click() {
  if (regroup_ && !filling_) regroup_->select_set(Combo_sets->currentIndex());
}

void FrmOffline::cmd_goset_Click() {
  if (!regroup_) return;
  regroup_->select_set(Combo_sets->currentIndex());
  regroup_->auto_layout();
  show_group_editor();
}

void FrmOffline::Cmd_clear_Click() {
  if (regroup_ && regroup_->clear(services_.dialogs)) show_group_editor();
}

void FrmOffline::cmdcancelgrups_Click() {
  if (!regroup_) return;
  const RegroupEditor::Leave left = regroup_->leave(services_.dialogs, services_.clock);
  regroup_.reset();
  pressed_.reset();
  panel_mode_ = -1;
  enable_outside_editor(true);
  if (left.asked_to_save) services_.clock.sleep_ms(100);
  // The acquisition is read again from its files, which hold the groups that count.
  if (browser_->reopen_current() == Opened::Acquisition) show_opened_acquisition();
  show_list();
  if (left.after_reopen) services_.dialogs.message(*left.after_reopen);
  Cmd_leegroups_Click();
}

void FrmOffline::Picreal_MouseDown(double x, double y, Qt::MouseButton button) {
  if (panel_mode_ != kGroupEditorMode || !regroup_ || pressed_) return;
  if (button != Qt::LeftButton && button != Qt::RightButton) return;
  pressed_ = button;
  if (regroup_->press(x, y, editor_button(button)))
    show_group_editor();
  else
    regroup_->draw(*Picreal);
}

void FrmOffline::Picreal_MouseMove(double x, double y) {
  if (panel_mode_ != kGroupEditorMode || !regroup_) return;
  if (regroup_->move(x, y)) regroup_->draw(*Picreal);
}

void FrmOffline::Picreal_MouseUp(double x, double y, Qt::MouseButton button) {
  if (panel_mode_ != kGroupEditorMode || !regroup_ || pressed_ != button) return;
  pressed_.reset();
  if (regroup_->release(x, y, editor_button(button)))
    show_group_editor();
  else
    regroup_->draw(*Picreal);
}

void FrmOffline::leave_panels() {
  // The track's timer sees the new view at its next tick and stops; an Export Data under way
  // stops after its current step without writing.
  if (panel_mode_ == kTrackMode || panel_mode_ == kTrackExportedMode) {
    panel_mode_ = -1;
    chk_bmp->hide();
    show_track_state();
  }
}

void FrmOffline::cmd_track_Click() {
  if (loading_ || regroup_ || browser_->acquisition_path().empty()) return;
  if (panel_mode_ == kTrackMode && track_ && track_->is_open()) {
    track_->toggle();
    if (track_->playing())
      Timer_play->start(kTrackTimerMs);
    else
      Timer_play->stop();
    show_track_state();
    return;
  }
  Timer_play->stop();
  if (!track_) track_ = std::make_unique<TrackRun>(services_.clock, services_.shell);
  Frame_bisize->hide();
  chk_bmp->show();
  panel_mode_ = kTrackMode;
  TrackOptions options;
  options.plate.data_folder = browser_->program_folder();
  options.threshold_text = str(frmtxt_threshold->text());
  options.save_frames = chk_bmp->isChecked();
  frmtxt_threshold->setText(
      qs(common::format_display(track_threshold(options.threshold_text), "0.0")));
  Picreal->clear(kWhite);
  const std::string error = track_->open(browser_->acquisition_path(), options);
  if (!error.empty()) {
    services_.dialogs.message(error);
    return;
  }
  track_->draw(*Picreal);
  Txtpage->setText(qs(track_->page_text()));
  Txtpage->show();
  show_track_state();
}

void FrmOffline::show_track_state() {
  const bool playing = panel_mode_ == kTrackMode && track_ && track_->playing();
  cmd_track->setText(playing ? "Pause" : "Track");
}

void FrmOffline::Timer_play_Timer() {
  if (panel_mode_ != kTrackMode || !track_) { // another view: the timer stays off
    Timer_play->stop();
    show_track_state();
    return;
  }
  track_->set_save_frames(chk_bmp->isChecked());
  const TrackTick tick = track_->tick(Picreal);
  Txtpage->setText(qs(track_->page_text()));
  if (tick == TrackTick::Stepped) {
    Timer_play->start(kTrackTimerMs);
    return;
  }
  show_track_state();
  if (tick == TrackTick::Finished) tell_track_problem();
}

void FrmOffline::mn_datatrack_Click() {
  if (panel_mode_ != kTrackMode || !track_ || !track_->is_open()) return;
  Timer_play->stop();
  show_track_state();
  // Shows how far the run is and lets the window take events once per block.
  class ProgressPump final : public common::EventPump {
  public:
    explicit ProgressPump(FrmOffline& window) : window_(window) {}
    void process_events() override {
      if (++steps_ % kStepsPerEventRun != 0) return;
      const TrackModel& model = *window_.track_->model();
      window_.Txtpage->setText(qs(window_.track_->page_text()));
      draw_progress(*window_.Pic_status, static_cast<double>(model.steps_done()) /
                                             static_cast<double>(model.total_steps()));
      window_.services_.pump.process_events();
    }

  private:
    FrmOffline& window_;
    std::int64_t steps_ = 0;
  } pump(*this);
  Pic_status->show();
  const std::optional<fs::path> file =
      track_->finish(pump, [this] { return panel_mode_ != kTrackMode; });
  draw_progress(*Pic_status, 1.0);
  if (!file) {
    tell_track_problem();
    return;
  }
  panel_mode_ = kTrackExportedMode;
  Txtpage->setText(qs(track_->page_text()));
  tell_track_problem();
}

void FrmOffline::tell_track_problem() {
  if (track_ && !track_->problem().empty()) services_.dialogs.message(track_->problem());
}

void FrmOffline::export_picture_Click() {
  if (loading_ || browser_->tables() == nullptr) return;
  const std::optional<BitmapView> view = bitmap_view_of_mode(view_mode(), plots().kinetic());
  if (!view) return;
  (void)export_picture(
      browser_->program_folder(), *view,
      [this](const fs::path& file, common::ImageFormat format) {
        return Picreal->save(file, format);
      },
      services_.dialogs, services_.shell);
}

void FrmOffline::asciiexporta_Click() {
  const AcquisitionTables* tables = browser_->tables();
  if (loading_ || tables == nullptr || panel_mode_ != -1) return;
  const AsciiSource source{tables->setup.Name, browser_->acquisition_path(), &tables->plate};
  (void)export_ascii(plots(), source, browser_->program_folder(), services_.shell);
}

void FrmOffline::mn_jointexport_Click() {
  if (loading_ || panel_mode_ != -1 || !plots().kinetic()) return;
  (void)export_joint_report(plots(), browser_->program_folder() / browser_->project_folder(),
                            services_.clock, services_.dialogs, services_.shell);
}

void FrmOffline::Cmd_report_Click() {
  if (loading_ || regroup_) return;
  const std::vector<std::string> lines = browser_->line_texts();
  const std::optional<ReportOpening> opening =
      report_opening(browser_->acquisition_path(), str(lbl_subpj_title->text()), lines,
                     browser_->current_line(), services_.dialogs);
  // The browser goes back to its group activity view in every case.
  if (browser_->tables() != nullptr) Cmd_leegroups_Click();
  if (opening && open_report_) open_report_(*opening);
}

void FrmOffline::cmd_log_Click() {
  const std::filesystem::path& folder = browser_->acquisition_path();
  if (folder.empty()) return;
  const AcquisitionLogView view = acquisition_log_view(folder);
  if (!view.text) {
    services_.dialogs.message(view.missing);
    return;
  }
  if (log_window_ == nullptr) {
    log_window_ = new AcquisitionLogWindow(this);
    log_window_->setWindowFlag(Qt::Window);
  }
  log_window_->show_log(folder);
}

void FrmOffline::show_restore_entry() {
  const fs::path& folder = browser_->acquisition_path();
  std::error_code error;
  // "Acquisition Log" is enabled exactly while an acquisition is open.
  mnrestore->setEnabled(mnlog->isEnabled() && !regroup_ && !folder.empty() &&
                        fs::exists(folder / reports::kRecordedCountsName, error));
}

void FrmOffline::mnrestore_Click() {
  const fs::path folder = browser_->acquisition_path();
  if (loading_ || regroup_ || !mnlog->isEnabled() || folder.empty()) return;
  if (services_.dialogs.message("The counts of the last re-analysis will be kept as counts.bak "
                                "and the counts recorded live will be put back. Restore the "
                                "recorded counts?",
                                common::Buttons::YesNo,
                                common::Icon::Question) != common::Answer::Yes)
    return;
  if (const auto problem = reports::restore_recorded_counts(folder)) {
    services_.dialogs.message(*problem, common::Buttons::Ok, common::Icon::Warning);
    return;
  }
  // The acquisition is read again from its files, which now hold the recorded counts.
  leave_panels();
  if (browser_->reopen_current() == Opened::Acquisition) show_opened_acquisition();
  show_list();
  services_.dialogs.message("Recorded counts restored");
}

} // namespace kestrova::browser
