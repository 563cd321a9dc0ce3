// The live display during a real acquisition against the virtual instrument: what the main
// window's pictures show in each view, checked on their pixels against the cycle's own tables.
#include <QColor>
#include <algorithm>
#include <cmath>
#include <numeric>

#include "acquisition/acquisition_cycle.hpp"
#include "app/live_display_binding.hpp"
#include "app_fixture.hpp"
#include "sim/pty_server.hpp"
#include "store/plate_format.hpp"

namespace kestrova::testing {
namespace {

constexpr int kBuffer = 100;    // samples per buffer: a buffer is 3 s of window timer
constexpr int kWellsPerRow = 8; // both 96-well formats number wells down each column of 8

const QColor kWhite(255, 255, 255);
const QColor kBarGrey(200, 200, 200);

// The colour at world point (x, y) of a picture.
QColor colour_at(const ui::PictureBox& box, double x, double y) {
  const QPoint p = box.to_pixel(x, y).toPoint();
  return box.image().pixelColor(std::clamp(p.x(), 0, box.image().width() - 1),
                                std::clamp(p.y(), 0, box.image().height() - 1));
}

// Whether a pixel of `colour` lies within `radius` pixels of world point (x, y).
bool colour_near(const ui::PictureBox& box, double x, double y, const QColor& colour,
                 int radius = 2) {
  const QPoint p = box.to_pixel(x, y).toPoint();
  const QImage& img = box.image();
  for (int dy = -radius; dy <= radius; ++dy)
    for (int dx = -radius; dx <= radius; ++dx) {
      const int px = p.x() + dx, py = p.y() + dy;
      if (px >= 0 && py >= 0 && px < img.width() && py < img.height() &&
          img.pixelColor(px, py) == colour)
        return true;
    }
  return false;
}

// Whether anything but the white background lies within 3 pixels of world point (x, y).
bool drawn_near(const ui::PictureBox& box, double x, double y) {
  const QPoint p = box.to_pixel(x, y).toPoint();
  const QImage& img = box.image();
  for (int dy = -3; dy <= 3; ++dy)
    for (int dx = -3; dx <= 3; ++dx) {
      const int px = p.x() + dx, py = p.y() + dy;
      if (px >= 0 && py >= 0 && px < img.width() && py < img.height() &&
          img.pixelColor(px, py) != kWhite)
        return true;
    }
  return false;
}

struct Case {
  const char* plate;
  bool body_bends;
};
void PrintTo(const Case& c, std::ostream* os) {
  *os << c.plate << (c.body_bends ? " with body bends" : "");
}

class LiveDisplayDuringAcquisition : public AppFixture, public ::testing::WithParamInterface<Case> {
protected:
  // Project 1 on `plate`: four groups of three plate columns each, 20-sample buffers.
  void write_project(const std::string& plate) {
    store::ProjectState project;
    project.setup.Name = "Live";
    project.setup.RT_Buffer = kBuffer;
    project.setup.Plate_format = plate;
    project.setup.tool_settings[0] = {0, 0, 0, 2, 0, 0}; // no calibration at the start
    FakeDialogs quiet;
    std::string format = plate;
    ASSERT_TRUE(store::LoadPlateFormat(tmp_.path(), format, project.plate, quiet));
    store::GroupTable& groups = project.groups.main();
    for (int c = 0; c < store::kChannelCount; ++c) {
      const int well = project.plate.map.WellOfChannel(c).well;
      groups.channel_group[static_cast<std::size_t>(c)] =
          well < 0 ? store::kFreeGroup : (well / kWellsPerRow) / 3;
    }
    std::filesystem::create_directories(tmp_ / "p00001");
    ASSERT_TRUE(store::SaveProject(project, tmp_ / "p00001", 1, 0, quiet));
  }
};

TEST_P(LiveDisplayDuringAcquisition, EachViewDrawsTheCyclesTables) {
  sim::InstrumentOptions busy;
  busy.organisms_per_well = 5;
  if (std::string(GetParam().plate) == "w96u") busy.plate = sim::PlateMap::w96u();
  sim::PtyServer server(busy);
  std::string error;
  ASSERT_TRUE(server.start(&error)) << error;
  ASSERT_TRUE(server.link(tmp_ / "ports" / "COM4", &error)) << error;
  write_project(GetParam().plate);
  app::App& a = started_app("1,1,4,0");
  app::FrmMain& m = a.main_window();
  a.start_screen().cmd_option2->click();
  ASSERT_TRUE(a.state().link.connected);
  m.resize(1920, 1080);
  m.show();
  QApplication::processEvents();
  if (GetParam().body_bends) {
    m.chk_bodybends->setEnabled(true);
    m.chk_bodybends->show();
    m.chk_bodybends->click();
    ASSERT_TRUE(m.chk_bodybends->isChecked());
    EXPECT_FALSE(m.Cmd_histoplot->isHidden());
  }

  m.txt_snr_umbral->setText("0.2");
  dialogs_.script_input(std::string("live"));
  m.CmdPlay->click();
  ASSERT_TRUE(a.state().acquisition.running) << ::testing::PrintToString(dialogs_.texts());
  // The start chooses the first group: its wells are listed and the first one is traced.
  ASSERT_EQ(m.combogrup->count(), 4);
  EXPECT_EQ(m.combogrup->currentIndex(), 0);
  int group0_channels = 0;
  for (int c = 0; c < store::kChannelCount; ++c)
    if (a.state().project.groups.main().channel_group[static_cast<std::size_t>(c)] == 0 &&
        a.state().project.plate.map.well_of_channel[static_cast<std::size_t>(c)] >= 0)
      ++group0_channels;
  ASSERT_GT(group0_channels, 0);
  EXPECT_EQ(m.lstgrup->count(), group0_channels) << "every channel of the first group's wells";
  EXPECT_EQ(m.lstgrup->currentRow(), 0);
  EXPECT_EQ(m.txtbeam->text(), m.lstgrup->item(0)->text());
  app::LiveDisplayBinding& live = *m.live_display();
  const acquisition::LiveDisplay& display = live.display();
  ASSERT_GE(display.channel(), 0);
  EXPECT_EQ(m.lblcanal->text(), QString::number(display.channel()));

  // Two buffers go by; the pause freezes the tables and the pictures.
  ASSERT_TRUE(run_until([&] { return a.state().acquisition.buffers_done >= 1; }));
  dialogs_.script_answer(common::Answer::Yes); // "Pause Time Counter?"
  m.CmdPause->click();
  ASSERT_TRUE(a.state().acquisition.paused);
  const acquisition::AcquisitionCycle& cycle = a.session().acquisition();
  const acquisition::DisplayData data = cycle.display_data();
  const store::ProjectState& project = a.state().project;
  const store::GroupTable& groups = project.groups.main();
  const ui::PictureBox& picact = *m.Picact;
  const ui::PictureBox& picreal = *m.Picreal;
  const auto count = [&](int c) { return static_cast<double>(data.counts[c]); };

  // Group wells view of group 0: the group bar (x 10..30) is grey up to the mean of the
  // group's wells; each well bar's left outline is black up to the well's mean; nothing above.
  {
    std::vector<int> wells; // the group's wells in the order of their first channel
    for (int c = 0; c < store::kChannelCount; ++c) {
      const int well = project.plate.map.well_of_channel[static_cast<std::size_t>(c)];
      if (groups.channel_group[static_cast<std::size_t>(c)] == 0 && well >= 0 &&
          project.channels.enabled[static_cast<std::size_t>(c)] &&
          std::find(wells.begin(), wells.end(), well) == wells.end())
        wells.push_back(well);
    }
    ASSERT_FALSE(wells.empty());
    std::vector<double> means;
    double all = 0;
    int counted = 0;
    for (int well : wells) {
      double sum = 0;
      int n = 0;
      for (int c = 0; c < store::kChannelCount; ++c)
        if (project.plate.map.well_of_channel[static_cast<std::size_t>(c)] == well) {
          sum += count(c);
          ++n;
        }
      means.push_back(std::round(sum / n));
      all += sum;
      counted += n;
    }
    const double scale = display.summary().bar_scale();
    const double t = std::round(all / counted) / scale;
    if (t >= 12) {
      EXPECT_EQ(colour_at(picact, 20, t / 2), kBarGrey) << t;
    }
    EXPECT_EQ(colour_at(picact, 20, std::min(290.0, t + 10)), kWhite);
    const double w = std::min(25.0, std::round(260.0 / static_cast<double>(wells.size())));
    for (std::size_t i = 0; i < wells.size(); ++i) {
      const double h = std::min(255.0, std::round(means[i] / scale));
      const double x0 = 40 + w * static_cast<double>(i);
      if (h >= 4) { // the outline's top edge, clear of the axis below it
        EXPECT_TRUE(colour_near(picact, x0 + 0.5 * w, h, Qt::black)) << i;
      }
      EXPECT_EQ(colour_at(picact, x0 + 0.5 * w, std::min(295.0, h + 8)), kWhite) << i;
    }
  }

  // The trace of the selected channel: red where its samples run, a gap at the sweep cursor,
  // white above the samples.
  {
    const int ch = display.channel();
    const auto sample = [&](int i) {
      return static_cast<int>(data.raw[static_cast<std::size_t>(i) * store::kChannelSlots + ch]);
    };
    m.Cmdzoom_minus->click(); // zoom stays 0: a full redraw of the frozen buffer
    const int cursor = data.cursor;
    int drawn = 0, red = 0;
    for (int i = 1; i < kBuffer; ++i) {
      if (i >= cursor - 1 && i <= cursor + 1) continue;
      const int y = std::max(sample(i - 1), sample(i));
      if (y > 2090) continue; // above the picture's top
      // The segment's middle: red, or the band drawn over it where the two meet.
      EXPECT_TRUE(drawn_near(picreal, i - 0.5, (sample(i - 1) + sample(i)) / 2.0))
          << "segment " << i << " from " << sample(i - 1) << " to " << sample(i);
      if (colour_near(picreal, i, sample(i), QColor(255, 0, 0), 3)) ++red;
      if (y + 200 < 2048) {
        EXPECT_EQ(colour_at(picreal, i - 0.5, y + 150), kWhite) << i;
      }
      ++drawn;
    }
    EXPECT_GT(drawn, 0) << "no sample lies within the picture";
    EXPECT_GT(red, drawn / 2) << "the trace is red where the band does not cover it";
    for (double y = 50; y < 2050; y += 25)
      EXPECT_EQ(colour_at(picreal, cursor - 0.5, y), kWhite) << "the cursor gap at " << y;
  }

  // Bar plot: a bar per group, grey up to the group's mean; nothing right of the fourth.
  m.Cmd_barplot->click();
  {
    const double scale = display.summary().bar_scale();
    const double w = 50, a0 = std::round(0.35 * w);
    for (int g = 0; g < 4; ++g) {
      double sum = 0;
      int n = 0;
      for (int c = 0; c < store::kChannelCount; ++c)
        if (groups.channel_group[static_cast<std::size_t>(c)] == g) {
          sum += count(c);
          ++n;
        }
      const double v = std::min(255.0, std::round(sum / n) / scale);
      const double x = a0 + g * w + 0.5 * w;
      if (v >= 4) {
        EXPECT_TRUE(colour_near(picact, x, v, Qt::black)) << g;
      }
      EXPECT_EQ(colour_at(picact, x, std::min(290.0, v + 8)), kWhite) << g;
    }
    EXPECT_EQ(colour_at(picact, a0 + 4 * w + 0.5 * w, 100), kWhite);
  }

  // Heat map: every well's centre in its grey level, white in the inset margin.
  m.Cmd_gridplot->click();
  {
    const store::PlateGeometry& g = project.plate.geometry;
    const int wells = g.rows * g.columns;
    std::vector<double> sums(static_cast<std::size_t>(wells), 0);
    for (int c = 0; c < store::kChannelCount; ++c) {
      const int well = project.plate.map.well_of_channel[static_cast<std::size_t>(c)];
      if (well >= 0 && well < wells) sums[static_cast<std::size_t>(well)] += count(c);
    }
    const double top = std::max(255.0, *std::max_element(sums.begin(), sums.end()));
    const double pc = std::round(100 * g.column_pitch), oc = std::round(100 * g.column_offset);
    const double pr = std::round(100 * g.row_pitch), orr = std::round(100 * g.row_offset);
    EXPECT_GT(*std::max_element(sums.begin(), sums.end()), 0) << "no well counted anything";
    for (int w = 0; w < wells; ++w) {
      const int r = w % g.rows, c = w / g.rows;
      const int level = 255 - static_cast<int>(std::lround(255.0 * sums[w] / top));
      EXPECT_EQ(colour_at(picact, oc + pc * (c + 0.5), orr + pr * (r + 0.5)),
                QColor(level, level, level))
          << "well " << w;
      EXPECT_EQ(colour_at(picact, oc + pc * (c + 0.04), orr + pr * (r + 0.5)), kWhite)
          << "margin of well " << w;
    }
  }

  if (GetParam().body_bends) {
    // Histogram of group 0: the tallest bin reaches 250 / 1.2 of the axis.
    m.Cmd_histoplot->click();
    EXPECT_EQ(display.summary().view(), acquisition::SummaryView::Histogram);
    std::vector<double> means(acquisition::kHistogramBinsShown, 0);
    int n = 0;
    for (int c = 0; c < store::kChannelCount; ++c)
      if (groups.channel_group[static_cast<std::size_t>(c)] == 0) {
        ++n;
        for (int k = 0; k < acquisition::kHistogramBinsShown; ++k)
          means[k] += data.histogram[static_cast<std::size_t>(k) * store::kChannelSlots + c];
      }
    for (double& v : means)
      v /= n;
    const double scale = display.summary().bar_scale();
    const double w = 300.0 / (acquisition::kHistogramBinsShown + 1), a0 = std::round(0.35 * w);
    for (int k = 0; k < acquisition::kHistogramBinsShown; ++k) {
      const double v = std::min(255.0, means[k] / scale);
      const double x = a0 + k * w + 0.5 * w;
      if (v >= 12) {
        EXPECT_EQ(colour_at(picact, x, v / 2), kBarGrey) << "bin " << k;
      }
      EXPECT_EQ(colour_at(picact, x, std::min(250.0, v + 20)), kWhite) << "bin " << k;
    }
    EXPECT_GT(*std::max_element(means.begin(), means.end()), 0) << "no body bend counted";
  }

  m.CmdStop->click();
  EXPECT_FALSE(a.state().acquisition.running);
}

INSTANTIATE_TEST_SUITE_P(Plates, LiveDisplayDuringAcquisition,
                         ::testing::Values(Case{"w96f", false}, Case{"w96u", true}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.plate) +
                                  (info.param.body_bends ? "_body_bends" : "");
                         });

} // namespace
} // namespace kestrova::testing
