#pragma once

#include <QObject>
#include <memory>

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/live_display.hpp"

namespace kestrova::app {

class FrmMain;

// The main window's live display controls: the view buttons, pages, group and well lists,
// channel pickers, zoom and the body-bend box, on the two pictures Picact and Picreal. Copies
// the LiveDisplay's state into the controls; the cycle draws through it at its ticks.
class LiveDisplayBinding final : public QObject {
public:
  LiveDisplayBinding(FrmMain& window, acquisition::AcquisitionCycle& cycle,
                     const store::ProjectState& project);
  ~LiveDisplayBinding() override;
  LiveDisplayBinding(const LiveDisplayBinding&) = delete;
  LiveDisplayBinding& operator=(const LiveDisplayBinding&) = delete;

  // Window activation: the group list follows the station's groups; a running acquisition
  // is drawn again.
  void activate();
  // Window resize: both pictures are drawn again while an acquisition is under way.
  void resized();
  // Station button: the station's groups, a fresh well list, the current view drawn again.
  void set_station(int station);
  // A new acquisition: as if the first group of the list were chosen (its wells listed, the
  // first one traced, the group wells view drawn).
  void acquisition_started();

  acquisition::LiveDisplay& display() { return display_; }

private:
  void connect_controls();
  void fill_group_list();
  void choose_group_entry(const QString& text);
  void show_state();
  void fill_well_list();
  void pick_from_controls(bool from_row);
  void body_bends_clicked(bool checked);
  bool acquiring() const;
  acquisition::DisplayData data() const { return cycle_.display_data(); }

  FrmMain& w_;
  acquisition::AcquisitionCycle& cycle_;
  const store::ProjectState& project_;
  acquisition::LiveDisplay display_;
  acquisition::LiveDisplayFeed feed_;
  bool filling_ = false; // the binding itself is changing controls: their signals are ignored
};

} // namespace kestrova::app
