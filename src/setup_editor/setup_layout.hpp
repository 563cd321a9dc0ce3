#pragma once

// Where the panels of the setup window go for a given client size: every rectangle is a fixed
// share of the window, designed at 1000 x 680, so the window keeps its proportions at any size.

namespace kestrova::setup_editor {

struct PanelRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const PanelRect&, const PanelRect&) = default;
};

struct SetupLayout {
  PanelRect plate;        // the plate map (Picwell's frame)
  PanelRect groups;       // the group lists and actions
  PanelRect annotations;  // frm_advance, over the group panel when shown
  PanelRect project;      // Frame_setup: project, folder, plate format, lapse, mode
  PanelRect extra;        // Frame_extra: sampling and detection
  PanelRect notes;        // Txt_description and its label
  PanelRect advanced;     // Frame_advanced, over the notes when shown
  PanelRect project_list; // frm_project, over the project and extra panels when shown
  PanelRect bottom_left;  // the annotation switch and the well caption
  PanelRect bottom_right; // "< Back" and "Continue to Run..."
};

inline constexpr int kDesignWidth = 1000;
inline constexpr int kDesignHeight = 680;

// The panels for a client area of `width` x `height` pixels.
SetupLayout setup_layout(int width, int height);

} // namespace kestrova::setup_editor
