#pragma once

// Per-group annotations of the setup window's annotation panel: for every group a compound,
// a strain, a buffer, an organisms-per-well count and a concentration, and three global values
// (strain, buffer, organisms per well) with their check boxes. Held in memory only.

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "store/channel_tables.hpp"

namespace kestrova::setup_editor {

// The annotations of one group, and the combo_tool entries in order.
enum class AnnotationKind { Compound, Strain, Buffer, OrgPerWell, Concentration };
inline constexpr std::array<std::string_view, 5> kAnnotationToolItems = {
    "Compound", "Strain", "Buffer", "[org/well]", "[Conc]"};

inline constexpr int kAnnotationRows = 6;
inline constexpr int kLastFirstShown = store::kGroupCount - kAnnotationRows; // 378

struct GroupAnnotation {
  std::string compound, strain, buffer, org_per_well, concentration;
  std::string& field(AnnotationKind kind);
  const std::string& field(AnnotationKind kind) const;
};

// A global value and its check box.
struct GlobalValue {
  std::string value;
  bool checked = true;
  std::string_view default_value;
};

class Annotations {
public:
  Annotations();

  // The first group shown in the panel (0..378) and the scroll buttons.
  int first_shown() const { return first_shown_; }
  void scroll_up() { first_shown_ = std::max(0, first_shown_ - 1); }
  void scroll_down() { first_shown_ = std::min(kLastFirstShown, first_shown_ + 1); }
  // The group shown in panel row `row`.
  int group_of_row(int row) const { return first_shown_ + row; }

  GroupAnnotation& group(int group) { return groups_.at(static_cast<std::size_t>(group)); }
  const GroupAnnotation& group(int group) const {
    return groups_.at(static_cast<std::size_t>(group));
  }
  // A row's text box changed: stores into the group shown in that row.
  void set_row(int row, AnnotationKind kind, std::string text);

  // "Fill": `text` into the `kind` annotation of every group whose name is not "Free"; for
  // Strain, Buffer and [org/well] the global check box is then cleared (its value emptied).
  void fill(AnnotationKind kind, const std::string& text,
            const std::array<std::string, store::kGroupCount>& group_names);
  // "SET Global": for Strain, Buffer and [org/well] the global takes `text` and is checked.
  void set_global(AnnotationKind kind, const std::string& text);
  // A global check box clicked: unchecked empties the value, checked with an empty value
  // gives the default ("N2", "M9", "35").
  void check_global(AnnotationKind kind, bool checked);
  // The global of Strain, Buffer or [org/well]; nullptr for the other kinds.
  GlobalValue* global(AnnotationKind kind);
  // What the global boxes show: each checked empty value first takes its default.
  void prepare_globals();

private:
  std::array<GroupAnnotation, store::kGroupCount> groups_;
  GlobalValue strain_{"N2", true, "N2"};
  GlobalValue buffer_{"M9", true, "M9"};
  GlobalValue org_per_well_{"35", true, "35"};
  int first_shown_ = 0;
};

} // namespace kestrova::setup_editor
