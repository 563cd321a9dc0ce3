#include "joint_fixture.hpp"

#include <cmath>

#include "acquisition/activity_files.hpp"
#include "reports/reanalysis_fixture.hpp"
#include "store/record_file.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::browser::testing {

namespace fs = std::filesystem;

TaggedProject write_tagged_project(const fs::path& data_folder) {
  TaggedProject p;
  p.k1 = {"20210316_1405", "20210317_0905", "20210318_1405"};
  unsigned seed = 3;
  for (const std::string& name : {p.k1[0], p.k1[1], p.k1[2], std::string("20210319_1000")}) {
    reports::testing::Recording recording;
    recording.times = {0, 1, 2, 3};
    recording.seed = seed++;
    p.project = reports::testing::write_recording(data_folder, name, recording).parent_path();
  }
  kestrova::testing::write_file(p.project / "tags_id.dat",
                                "20210318_1405 [K1]\r\n20210316_1405 [K1]\r\n"
                                "20210319_1000 [K2]\r\n20210317_0905 [K2] [K1]\r\n");
  return p;
}

std::string expected_row(const TaggedProject& p, int group, const std::string& separator) {
  const int channels[2][2] = {{0, 1}, {16, 17}};
  std::string row = group == 0 ? "[#000_Ctrl]" : "[#001_Drug]";
  for (const std::string& name : p.k1) {
    double sum = 0;
    for (int r = 0;; ++r) {
      const auto record = acquisition::read_counts_record(p.project / name / "counts.bin", r);
      if (!record) break;
      for (int c : channels[group])
        sum += record->slots[static_cast<std::size_t>(c)];
    }
    row += separator + std::to_string(static_cast<long long>(std::nearbyint(sum / 2)));
  }
  return row;
}

std::vector<std::string> file_lines(const std::filesystem::path& file) {
  return store::read_text_lines(file).value_or(std::vector<std::string>{});
}

} // namespace kestrova::browser::testing
