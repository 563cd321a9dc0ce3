#include "app/live_display_binding.hpp"

#include <QSignalBlocker>

#include "app/main_window.hpp"
#include "ui/qt_text.hpp"

namespace kestrova::app {

namespace {

using ui::qs;

} // namespace

LiveDisplayBinding::LiveDisplayBinding(FrmMain& window, acquisition::AcquisitionCycle& cycle,
                                       const store::ProjectState& project)
    : w_(window), cycle_(cycle), project_(project),
      display_(*window.Picact, *window.Picreal, project),
      feed_(display_, [&cycle] { return cycle.display_data(); }) {
  cycle_.set_display_pacing(&feed_);
  cycle_.add_sink(&feed_);
  connect_controls();
}

LiveDisplayBinding::~LiveDisplayBinding() {
  cycle_.set_display_pacing(nullptr);
  cycle_.remove_sink(&feed_);
}

bool LiveDisplayBinding::acquiring() const {
  return cycle_.state() != acquisition::AcquisitionState::Stopped;
}

void LiveDisplayBinding::connect_controls() {
  FrmMain& w = w_;
  connect(w.combogrup, &QComboBox::textActivated, this,
          [this](const QString& text) { choose_group_entry(text); });
  connect(w.Cmd_barplot, &QPushButton::clicked, this, [this] {
    display_.show_bars(data());
    show_state();
  });
  connect(w.Cmd_gridplot, &QPushButton::clicked, this, [this] {
    display_.show_heat_map(data());
    show_state();
  });
  connect(w.Cmd_histoplot, &QPushButton::clicked, this, [this] {
    display_.show_histogram(data());
    show_state();
  });
  connect(w.cmd_pgup, &QPushButton::clicked, this, [this] {
    display_.next_page(data());
    show_state();
  });
  connect(w.cmd_pgdown, &QPushButton::clicked, this, [this] {
    display_.previous_page(data());
    show_state();
  });
  connect(w.lstgrup, &QListWidget::currentRowChanged, this, [this](int row) {
    if (filling_ || row == display_.selected_well()) return;
    display_.select_well(row, data());
    show_state();
  });
  connect(w.cmdbeam_plus, &QPushButton::clicked, this, [this] {
    display_.step_well(1, data());
    show_state();
  });
  connect(w.cmdbeam_minus, &QPushButton::clicked, this, [this] {
    display_.step_well(-1, data());
    show_state();
  });
  connect(w.Combofila, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) pick_from_controls(true);
  });
  connect(w.Combocol, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) pick_from_controls(false);
  });
  connect(w.txtsub, &QLineEdit::editingFinished, this, [this] { pick_from_controls(false); });
  connect(w.Cmdzoom_plus, &QPushButton::clicked, this, [this] {
    display_.zoom_in(data());
    show_state();
  });
  connect(w.Cmdzoom_minus, &QPushButton::clicked, this, [this] {
    display_.zoom_out(data());
    show_state();
  });
  connect(w.chk_bodybends, &QCheckBox::clicked, this,
          [this](bool checked) { body_bends_clicked(checked); });
}

void LiveDisplayBinding::pick_from_controls(bool from_row) {
  const int position = w_.txtsub->text().trimmed().toInt();
  const acquisition::ChannelPick pick = display_.pick_channel(
      w_.Combofila->currentIndex(), w_.Combocol->currentIndex() + 1, position, from_row, data());
  filling_ = true;
  if (pick.reset_row_column) {
    w_.Combofila->setCurrentIndex(0);
    w_.Combocol->setCurrentIndex(0);
  }
  if (pick.reset_position) w_.txtsub->setText("0");
  filling_ = false;
  show_state();
}

void LiveDisplayBinding::body_bends_clicked(bool checked) {
  const acquisition::BodyBendsBox box =
      acquisition::body_bends_changed(checked, project_.setup.Plate_format);
  cycle_.switches().body_bends = box.mode;
  {
    const QSignalBlocker block(w_.chk_bodybends);
    w_.chk_bodybends->setChecked(box.checked);
  }
  w_.chk_bodybends->setVisible(box.box_visible);
  w_.Cmd_histoplot->setVisible(box.histogram_button);
  if (!box.warning.empty()) w_.lbl_autochannel->setText(qs(box.warning));
}

void LiveDisplayBinding::fill_group_list() {
  const auto& groups = project_.groups.sets[static_cast<std::size_t>(display_.station())];
  QStringList entries;
  for (const std::string& e : acquisition::group_entries(groups))
    entries << qs(e);
  QStringList shown;
  for (int i = 0; i < w_.combogrup->count(); ++i)
    shown << w_.combogrup->itemText(i);
  if (shown == entries) return;
  const QSignalBlocker block(w_.combogrup);
  w_.combogrup->clear();
  w_.combogrup->addItems(entries);
}

void LiveDisplayBinding::fill_well_list() {
  filling_ = true;
  w_.lstgrup->clear();
  for (const acquisition::WellEntry& e : display_.wells())
    w_.lstgrup->addItem(qs(e.text));
  filling_ = false;
}

void LiveDisplayBinding::show_state() {
  const acquisition::SummaryPlot& summary = display_.summary();
  w_.cmd_pgup->setVisible(summary.page_buttons_visible());
  w_.cmd_pgdown->setVisible(summary.page_buttons_visible());
  filling_ = true;
  const int selected = display_.selected_well();
  w_.lstgrup->setCurrentRow(selected);
  if (selected >= 0)
    w_.txtbeam->setText(qs(display_.wells()[static_cast<std::size_t>(selected)].text));
  filling_ = false;
  w_.lblcanal->setText(display_.channel() < 0 ? QString("0") : QString::number(display_.channel()));
  w_.txtzoom->setText(QString::number(display_.zoom()));
}

void LiveDisplayBinding::choose_group_entry(const QString& text) {
  const auto group = acquisition::group_of_entry(text.toStdString());
  if (!group) return;
  w_.combogrup->setToolTip(text);
  display_.choose_group(*group, data());
  fill_well_list();
  show_state();
}

void LiveDisplayBinding::acquisition_started() {
  fill_group_list();
  if (w_.combogrup->count() > 0) {
    {
      const QSignalBlocker block(w_.combogrup);
      w_.combogrup->setCurrentIndex(0);
    }
    choose_group_entry(w_.combogrup->itemText(0));
    return;
  }
  // No group in use: an empty well list and no trace over a fresh axis.
  display_.set_station(display_.station());
  fill_well_list();
  display_.redraw(data());
  show_state();
}

void LiveDisplayBinding::activate() {
  fill_group_list();
  if (acquiring()) display_.redraw(data());
  show_state();
}

void LiveDisplayBinding::resized() {
  if (acquiring()) display_.redraw(data());
}

void LiveDisplayBinding::set_station(int station) {
  display_.set_station(station);
  fill_group_list();
  if (display_.summary().view() == acquisition::SummaryView::GroupWells &&
      w_.combogrup->count() > 0) {
    // The wells view stays on its group when the station uses it, else on the first group.
    int index = 0;
    for (int i = 0; i < w_.combogrup->count(); ++i)
      if (acquisition::group_of_entry(w_.combogrup->itemText(i).toStdString()) ==
          display_.summary().group())
        index = i;
    {
      const QSignalBlocker block(w_.combogrup);
      w_.combogrup->setCurrentIndex(index);
    }
    choose_group_entry(w_.combogrup->itemText(index));
    return;
  }
  fill_well_list();
  display_.redraw(data());
  show_state();
}

} // namespace kestrova::app
