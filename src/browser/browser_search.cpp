#include "browser/browser_search.hpp"

#include <algorithm>

namespace kestrova::browser {

std::vector<std::string> SplitSearchTerms(std::string_view text) {
  std::vector<std::string> terms(1);
  bool quoted = false;
  const auto next_term = [&] {
    if (terms.size() < kMaxSearchTerms) terms.emplace_back();
  };
  for (const char c : text) {
    if (c == '"') {
      if (quoted) next_term();
      quoted = !quoted;
    } else if (c == ' ' && !quoted) {
      next_term();
    } else {
      terms.back() += c;
    }
  }
  std::erase_if(terms, [](const std::string& t) { return t.empty(); });
  return terms;
}

std::string Lowercase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

std::vector<bool> SearchSelection(const std::filesystem::path& program_folder,
                                  const std::vector<ListLine>& lines,
                                  const std::vector<std::string>& terms) {
  std::vector<std::string> lower_terms;
  for (const std::string& term : terms)
    if (!term.empty()) lower_terms.push_back(Lowercase(term));
  std::vector<bool> selected(lines.size(), false);
  if (lower_terms.empty()) return selected;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string text = Lowercase(lines[i].text);
    std::vector<std::string> missing;
    for (const std::string& term : lower_terms)
      if (text.find(term) == std::string::npos) missing.push_back(term);
    // A project's acquisitions are read only for the terms its own line lacks.
    if (!missing.empty() && lines[i].is_project) {
      for (const ListLine& acquisition :
           AcquisitionLines(program_folder, lines[i].project_folder, false, false)) {
        const std::string acquisition_text = Lowercase(acquisition.text);
        std::erase_if(missing, [&](const std::string& term) {
          return acquisition_text.find(term) != std::string::npos;
        });
        if (missing.empty()) break;
      }
    }
    selected[i] = missing.empty();
  }
  return selected;
}

} // namespace kestrova::browser
