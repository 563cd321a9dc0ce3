// list and tag: the experiment browser's list for scripts, and its kinetic-group tags.
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <set>
#include <string_view>

#include "app/data_folder.hpp"
#include "browser/browser_list.hpp"
#include "browser/browser_session.hpp"
#include "commands.hpp"
#include "store/config.hpp"
#include "store/folder_lock.hpp"
#include "store/tags.hpp"

namespace kestrova::tools {

namespace fs = std::filesystem;

namespace {

// A field of a tab-separated line: a backslash, tab, carriage return or line feed inside it is
// written as \\, \t, \r or \n, so every line holds exactly five fields.
std::string field(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
    case '\\':
      out += "\\\\";
      break;
    case '\t':
      out += "\\t";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\n':
      out += "\\n";
      break;
    default:
      out += c;
    }
  }
  return out;
}

// The data folder of the program: --data-dir, else $KESTROVA_HOME, else ~/Kestrova.
fs::path program_folder(const Context& context) {
  const std::optional<std::string> given =
      context.data_dir ? std::optional<std::string>(context.data_dir->string()) : std::nullopt;
  return app::choose_data_folder(given, std::getenv("KESTROVA_HOME"), std::getenv("HOME")).folder;
}

} // namespace

// list [--project N] [--tag TAG]: one tab-separated line per project and per acquisition.
Runner setup_list(CLI::App& command) {
  struct Args {
    std::optional<int> project;
    std::string tag;
  };
  auto args = std::make_shared<Args>();
  command.fallthrough();
  command.add_option("--project", args->project, "only this project number")
      ->check(CLI::Range(0, store::kMaxProjectNumber));
  command.add_option("--tag", args->tag, "only acquisitions holding this tag, e.g. [K1]");
  command.footer(
      "Lines: project folder, acquisition folder (empty on a project's own line), title (the "
      "project's name on its line), tags, path; projects and acquisitions in ascending order. "
      "Inside a field a backslash is written \\\\, a tab \\t, a carriage return \\r and a line "
      "feed \\n, so a line always has five tab-separated fields (cut -f5 gives the paths). "
      "The data folder is --data-dir, else $KESTROVA_HOME, else ~/Kestrova.");
  return [args](Context& context) {
    const fs::path folder = program_folder(context);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
      std::cerr << "kestrova-report: no data folder " << folder.string() << '\n';
      return 1;
    }
    std::vector<std::string> projects = browser::ScanProjectFolders(folder);
    if (args->project) {
      const std::string wanted = store::ProjectFolderName(*args->project);
      if (std::find(projects.begin(), projects.end(), wanted) == projects.end()) {
        std::cerr << "kestrova-report: no project " << wanted << " in " << folder.string() << '\n';
        return 1;
      }
      projects = {wanted};
    }
    const std::set<std::string> all(projects.begin(), projects.end());
    const std::vector<browser::ListLine> lines =
        browser::BuildList(folder, projects, all, false, context.dialogs);
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const browser::ListLine& line = lines[i];
      const fs::path project = folder / line.project_folder;
      if (line.is_project) {
        if (!args->tag.empty()) continue;
        out += field(line.project_folder) + "\t\t" + field(line.project_name) + "\t\t" +
               field(project.string()) + '\n';
        continue;
      }
      if (!args->tag.empty() && !store::TagsHold(line.tags, args->tag)) continue;
      out += field(line.project_folder) + '\t' + field(line.acquisition_folder) + '\t' +
             field(line.title) + '\t' + field(line.tags) + '\t' +
             field((project / line.acquisition_folder).string()) + '\n';
    }
    std::cout << out << std::flush;
    return std::cout ? 0 : 1;
  };
}

// tag ACQ_FOLDER (TAG | --clear): adds a tag to an acquisition in its project's tags_id.dat,
// or clears its tags.
Runner setup_tag(CLI::App& command) {
  struct Args {
    std::string folder;
    std::string tag;
    bool clear = false;
  };
  auto args = std::make_shared<Args>();
  command.add_option("ACQ_FOLDER", args->folder, "acquisition folder (pNNNNN/yyyymmdd_hhmm...)")
      ->required()
      ->check(CLI::ExistingDirectory);
  auto* tag = command.add_option("TAG", args->tag, "the tag to add, e.g. [K2] (no spaces)");
  auto* clear = command.add_flag("--clear", args->clear, "remove every tag of the acquisition");
  tag->excludes(clear);
  clear->excludes(tag);
  return [args](Context&) {
    if (args->tag.empty() && !args->clear) {
      std::cerr << "kestrova-report: tag needs a TAG or --clear\n";
      return 2;
    }
    if (args->tag.find_first_of(" \t\r\n") != std::string::npos) {
      std::cerr << "kestrova-report: a tag holds no spaces: \"" << args->tag << "\"\n";
      return 2;
    }
    const fs::path path = fs::weakly_canonical(fs::path(args->folder));
    const std::string name = path.filename().string();
    const fs::path project = path.parent_path();
    if (!browser::IsAcquisitionName(name) || project.filename().string().size() != 6 ||
        !browser::MatchesProjectPattern(project.filename().string())) {
      std::cerr << "kestrova-report: " << path.string()
                << " is not an acquisition folder (pNNNNN/yyyymmdd_hhmm...)\n";
      return 2;
    }
    if (auto refusal = store::busy_folder_refusal(path, browser::kTagBusy)) {
      std::cerr << "kestrova-report: " << *refusal << '\n';
      return 1;
    }
    store::SetTag(project, name, args->tag);
    // SetTag writes nothing when nothing changes, so the outcome is judged from the file.
    const std::string now = store::ReadTags(project, name);
    const bool done = args->clear ? now.empty() : store::TagsHold(now, args->tag);
    if (!done) {
      std::cerr << "kestrova-report: cannot write " << (project / store::kTagsFile).string()
                << '\n';
      return 1;
    }
    std::cout << name << '\t' << now << '\n';
    return 0;
  };
}

} // namespace kestrova::tools
