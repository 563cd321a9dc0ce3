#include "browser/export_files.hpp"

#include <cctype>
#include <system_error>

#include "browser/plot_draw.hpp"
#include "store/record_file.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;

std::string ascii_export_text(const AsciiSource& source, int well, const RealtimePage& page) {
  const store::PlateFormat& plate = *source.plate;
  const std::string label = store::WellLabel(plate.geometry, well);
  const std::vector<int> beams = beams_of_well(plate, well);
  std::string out;
  out += "\"" + source.project_name + "\"\r\n";
  out += "\"" + source.acquisition_folder.string() + "\"\r\n";
  out += "\r\n";
  const int p = page.page();
  out += "Well: " + label + " Page[" + page.page_text() + "] [#" + std::to_string((p - 1) * 25) +
         "k-" + std::to_string(p * 25) + "k]\r\n";
  out += "\r\n";
  for (std::size_t j = 0; j < beams.size(); ++j)
    if (beams[j] >= 0) out += label + "." + std::to_string(j) + " ";
  out += "\r\n";
  for (int b = 0; b < page.blocks(); ++b)
    for (int s = 1; s <= kShownSamples; ++s) {
      for (const int channel : beams)
        if (channel >= 0) {
          out += std::to_string(page.sample(b, s, channel));
          out += ' ';
        }
      out += "\r\n";
    }
  return out;
}

std::optional<fs::path> export_ascii(const PlotView& view, const AsciiSource& source,
                                     const fs::path& program_folder, common::Shell& shell) {
  if (view.mode() != PlotMode::Signal || view.page().file_count() == 0 ||
      view.page().blocks() == 0 || source.plate == nullptr)
    return std::nullopt;
  const int channel = view.channel();
  if (channel < 0 || channel >= store::kChannelCount) return std::nullopt;
  const int well = source.plate->map.well_of_channel[static_cast<std::size_t>(channel)];
  if (well < 0) return std::nullopt;
  const fs::path path = program_folder / kAsciiExportFile;
  if (!store::save_file_atomically(path, ascii_export_text(source, well, view.page())))
    return std::nullopt;
  shell.open(path);
  return path;
}

std::optional<BitmapView> bitmap_view_of_mode(int view_mode, bool kinetic) {
  switch (view_mode) {
  case 0:
    return BitmapView::Bars;
  case 1:
  case 2:
    return BitmapView::Signal;
  case 4:
    return kinetic ? BitmapView::KineticLine : BitmapView::Line;
  case 5:
    return BitmapView::HeatMap;
  case 6:
    return BitmapView::Track;
  default:
    return std::nullopt;
  }
}

fs::path bitmap_export_path(const fs::path& program_folder, BitmapView view) {
  switch (view) {
  case BitmapView::Line:
    return program_folder / "lineimg.bmp";
  case BitmapView::HeatMap:
    return program_folder / "plateimg.bmp";
  case BitmapView::Track:
    return program_folder / "trackimg.bmp";
  case BitmapView::Bars:
  case BitmapView::Signal:
  case BitmapView::KineticLine:
    break;
  }
  return program_folder / "image1.bmp";
}

std::optional<fs::path> save_picture_file(const fs::path& target, const SavePicture& save,
                                          common::Shell& shell) {
  // The partial file keeps the extension, so a saver that picks the format by it writes the
  // target's format.
  const fs::path partial =
      target.parent_path() / (target.stem().string() + ".saving" + target.extension().string());
  std::error_code ec;
  if (!save || !save(partial) || !fs::is_regular_file(partial, ec)) {
    fs::remove(partial, ec);
    return std::nullopt;
  }
  fs::rename(partial, target, ec);
  if (ec) {
    fs::remove(partial, ec);
    return std::nullopt;
  }
  shell.open(target);
  return target;
}

std::optional<fs::path> export_bitmap(const fs::path& program_folder, BitmapView view,
                                      const SavePicture& save, common::Shell& shell) {
  return save_picture_file(bitmap_export_path(program_folder, view), save, shell);
}

std::optional<common::ImageFormat> picture_format_of(const fs::path& file) {
  std::string extension = file.extension().string();
  for (char& c : extension)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".bmp") return common::ImageFormat::Bmp;
  if (extension == ".png") return common::ImageFormat::Png;
  return std::nullopt;
}

std::optional<fs::path> export_picture(const fs::path& program_folder, BitmapView view,
                                       const SavePictureAs& save, common::Dialogs& dialogs,
                                       common::Shell& shell) {
  std::optional<fs::path> chosen = dialogs.save_file(
      kPictureExportTitle, bitmap_export_path(program_folder, view), kPictureTypes);
  if (!chosen || chosen->filename().empty()) return std::nullopt;
  if (!chosen->has_extension()) chosen->replace_extension(".bmp");
  const std::optional<common::ImageFormat> format = picture_format_of(*chosen);
  if (!format) {
    dialogs.message(std::string(kPictureTypeRefused) + chosen->string(), common::Buttons::Ok,
                    common::Icon::Warning);
    return std::nullopt;
  }
  return save_picture_file(
      *chosen, [&](const fs::path& file) { return save && save(file, *format); }, shell);
}

} // namespace kestrova::browser
