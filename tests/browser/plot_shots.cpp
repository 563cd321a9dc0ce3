// A visual check of the offline plots: draws every view of a small recorded acquisition on a
// real picture and saves it as PNG. Run by hand: kestrova_plot_shots OUTPUT_FOLDER

// Before Qt, whose "slots" macro would clash with a member of that name.
#include "browser/plot_view.hpp"
#include "plot_fixture.hpp"

#include <QApplication>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "common/stderr_dialogs.hpp"
#include "support/fake_clock.hpp"
#include "ui/picture_box.hpp"

using namespace kestrova;
namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  QApplication app(argc, argv);
  const fs::path out = argv[1];
  const fs::path project = fs::temp_directory_path() / "kestrova_plot_shots";
  fs::remove_all(project);
  const auto counts = [](int r, int k) -> std::int16_t {
    const int group = k / 32;
    return static_cast<std::int16_t>(10 + group * 3 + 8 * std::sin((r + 40 * group) / 60.0));
  };
  browser::testing::write_counts(
      project / "20210316_1405", 300, [](int r) { return r; }, counts);
  browser::testing::write_counts(
      project / "20210318_1405", 300, [](int r) { return r; },
      [&](int r, int k) -> std::int16_t {
        return static_cast<std::int16_t>(counts(r, k) + k / 32);
      });
  browser::testing::write_realtime(project / "20210316_1405", 12, [](int b, int p, int c) {
    const double dip = (p + 37 * b + 11 * c) % 90 < 4 ? 700 : 0;
    return static_cast<std::int16_t>(1500 + 200 * (c % 4) + 30 * std::sin(p / 7.0) - dip);
  });

  browser::PlotAcquisition a;
  a.folder = project / "20210316_1405";
  a.project_folder = project;
  for (int k = 0; k < store::kChannelSlots; ++k)
    a.groups.channel_group[static_cast<std::size_t>(k)] = k < 384 ? k / 32 : -1;
  a.plate = *store::BuiltInPlateFormat("w96f");
  a.acquisition_lapse = 30;
  a.configuration_summary = "\r\n\t***** CONFIG ******\r\n\tMicroplate format: [w96f]";
  common::StderrDialogs dialogs;
  kestrova::testing::FakeClock clock;
  browser::PlotView view(dialogs, clock);
  view.open(a);
  view.select_item(2);

  struct Shot {
    const char* name;
    std::function<void()> choose;
  };
  const Shot shots[] = {
      {"bars", [&] { view.show_bars(); }},
      {"line", [&] { view.show_line_plot(); }},
      {"kinetic", [&] { view.show_kinetic("20210316_1405 20210318_1405"); }},
      {"heatmap", [&] { view.show_heat_map(); }},
      {"signal",
       [&] {
         view.set_channel(0);
         view.show_channel_signal();
       }},
      {"preview", [&] { view.analyze("1.8", 1); }},
  };
  int failures = 0;
  for (const Shot& shot : shots) {
    shot.choose();
    for (auto [w, h] : {std::pair{640, 420}, std::pair{1200, 760}}) {
      ui::PictureBox box;
      box.resize(w, h);
      const auto start = std::chrono::steady_clock::now();
      if (!view.draw(box)) ++failures;
      std::printf(
          "%s %dx%d: drawn in %.0f ms\n", shot.name, w, h,
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
      const fs::path file = out / (std::string(shot.name) + "_" + std::to_string(w) + ".png");
      if (!box.save(file, common::ImageFormat::Png)) ++failures;
    }
  }
  fs::remove_all(project);
  return failures == 0 ? 0 : 1;
}
