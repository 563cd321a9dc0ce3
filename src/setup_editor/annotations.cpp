#include "setup_editor/annotations.hpp"

namespace kestrova::setup_editor {

std::string& GroupAnnotation::field(AnnotationKind kind) {
  switch (kind) {
  case AnnotationKind::Compound:
    return compound;
  case AnnotationKind::Strain:
    return strain;
  case AnnotationKind::Buffer:
    return buffer;
  case AnnotationKind::OrgPerWell:
    return org_per_well;
  case AnnotationKind::Concentration:
    break;
  }
  return concentration;
}

const std::string& GroupAnnotation::field(AnnotationKind kind) const {
  return const_cast<GroupAnnotation*>(this)->field(kind);
}

Annotations::Annotations() = default;

void Annotations::set_row(int row, AnnotationKind kind, std::string text) {
  if (row < 0 || row >= kAnnotationRows) return;
  group(group_of_row(row)).field(kind) = std::move(text);
}

void Annotations::fill(AnnotationKind kind, const std::string& text,
                       const std::array<std::string, store::kGroupCount>& group_names) {
  for (std::size_t g = 0; g < groups_.size(); ++g)
    if (group_names[g] != "Free") groups_[g].field(kind) = text;
  if (global(kind) != nullptr) check_global(kind, false);
}

void Annotations::set_global(AnnotationKind kind, const std::string& text) {
  if (GlobalValue* g = global(kind)) {
    g->value = text;
    g->checked = true;
  }
}

void Annotations::check_global(AnnotationKind kind, bool checked) {
  GlobalValue* g = global(kind);
  if (g == nullptr) return;
  g->checked = checked;
  if (!checked)
    g->value.clear();
  else if (g->value.empty())
    g->value = std::string(g->default_value);
}

GlobalValue* Annotations::global(AnnotationKind kind) {
  switch (kind) {
  case AnnotationKind::Strain:
    return &strain_;
  case AnnotationKind::Buffer:
    return &buffer_;
  case AnnotationKind::OrgPerWell:
    return &org_per_well_;
  default:
    return nullptr;
  }
}

void Annotations::prepare_globals() {
  for (GlobalValue* g : {&strain_, &buffer_, &org_per_well_})
    if (g->checked && g->value.empty()) g->value = std::string(g->default_value);
}

} // namespace kestrova::setup_editor
