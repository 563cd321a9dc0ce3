#include "browser/acquisition_log_view.hpp"

#include <system_error>

#include "acquisition/acquisition_log.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;

AcquisitionLogView acquisition_log_view(const fs::path& acquisition_folder) {
  AcquisitionLogView view;
  const std::string name = acquisition_folder.parent_path().filename().string() + "/" +
                           acquisition_folder.filename().string();
  view.title = "Acquisition log: " + name;
  view.text = acquisition::read_acquisition_log(acquisition_folder);
  if (view.text) return view;
  const fs::path file = acquisition_folder / acquisition::kAcquisitionLogName;
  std::error_code ec;
  if (fs::exists(fs::symlink_status(file, ec)))
    view.missing = std::string(kNoAcquisitionLog) + ": " + file.string() + " cannot be read.";
  else
    view.missing = std::string(kNoAcquisitionLog) + " (" + name +
                   "): it was recorded before acquisitions kept a log.";
  return view;
}

} // namespace kestrova::browser
