#pragma once

// The browser's exports to the program folder: the raw samples of one well as "datafile.txt"
// and the bitmap copies of the plot area. Each file is written beside its name and renamed
// over it, so a failed export leaves the previous file whole, and is then shown through the
// desktop's program for its type.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "browser/plot_view.hpp"
#include "browser/realtime_page.hpp"
#include "common/canvas.hpp"
#include "common/dialogs.hpp"
#include "common/shell.hpp"
#include "store/plate_format.hpp"

namespace kestrova::browser {

inline constexpr std::string_view kAsciiExportFile = "datafile.txt";

// What the ASCII export writes about the acquisition besides its samples.
struct AsciiSource {
  std::string project_name; // the Name field of the acquisition's setup.dat
  std::filesystem::path acquisition_folder;
  const store::PlateFormat* plate = nullptr; // the acquisition's plate
};

// The text of datafile.txt for `well`: the project name and acquisition folder in quotes, an
// empty line, "Well: A1 Page[2/3] [#25k-50k]", an empty line, the beams ("A1.0 A1.1 A1.3 "),
// then one line per sample 1..500 of each block the page holds, a value and a space per beam.
// A partly filled last page gives the blocks it holds and no more.
std::string ascii_export_text(const AsciiSource& source, int well, const RealtimePage& page);

// "Export to ASCII...": in the channel view of an acquisition with real-time files, writes
// datafile.txt into `program_folder` for the well of the traced channel and opens it. Nothing
// in another view, without real-time files, for a channel in no well, or when the file cannot
// be written (a previous datafile.txt stays as it was). Returns the file written.
std::optional<std::filesystem::path> export_ascii(const PlotView& view, const AsciiSource& source,
                                                  const std::filesystem::path& program_folder,
                                                  common::Shell& shell);

// The views whose picture can be exported, and the file each one is saved as.
enum class BitmapView {
  Bars,        // view mode 0: "image1.bmp"
  Signal,      // view modes 1 and 2, channel signal and analysis preview: "image1.bmp"
  KineticLine, // view mode 4 in kinetic mode: "image1.bmp"
  Line,        // view mode 4: "lineimg.bmp"
  HeatMap,     // view mode 5: "plateimg.bmp"
  Track,       // view mode 6: "trackimg.bmp"
};

// The bitmap view of a browser view mode (the plot view's mode, 3 for the group editor, 6 for
// the track view); nothing for a mode without a bitmap export (the group editor).
std::optional<BitmapView> bitmap_view_of_mode(int view_mode, bool kinetic);

// The file a view's bitmap is saved as: "image1.bmp", "lineimg.bmp", ... in `program_folder`.
std::filesystem::path bitmap_export_path(const std::filesystem::path& program_folder,
                                         BitmapView view);

// Saves a bitmap export: `save` writes the picture to the path it is given (a file beside the
// target), which is then renamed over the target and opened. Any failure ends the export
// quietly, leaves the previous file as it was and gives nothing.
using SavePicture = std::function<bool(const std::filesystem::path& file)>;
std::optional<std::filesystem::path> export_bitmap(const std::filesystem::path& program_folder,
                                                   BitmapView view, const SavePicture& save,
                                                   common::Shell& shell);

// Saves a picture as `target`: `save` writes it to the path it is given (a file beside the
// target with the same extension), which is then renamed over the target and opened. Any
// failure leaves the previous file as it was and gives nothing.
std::optional<std::filesystem::path> save_picture_file(const std::filesystem::path& target,
                                                       const SavePicture& save,
                                                       common::Shell& shell);

inline constexpr std::string_view kPictureExportTitle = "Export picture";
inline constexpr std::string_view kPictureTypes = "BMP picture (*.bmp);;PNG picture (*.png)";
inline constexpr std::string_view kPictureTypeRefused =
    "Pictures are saved as .bmp or .png files: ";

// The format of a picture file by its extension (.bmp or .png, any case); nothing for another.
std::optional<common::ImageFormat> picture_format_of(const std::filesystem::path& file);

// A picture export as the window offers it: a save dialog proposes the view's bitmap file in
// the program folder and offers BMP and PNG; the format follows the extension chosen (a name
// without one becomes a .bmp). Another extension is refused with a message. The picture is then
// saved as by save_picture_file and opened. Nothing when cancelled or failed.
using SavePictureAs =
    std::function<bool(const std::filesystem::path& file, common::ImageFormat format)>;
std::optional<std::filesystem::path> export_picture(const std::filesystem::path& program_folder,
                                                    BitmapView view, const SavePictureAs& save,
                                                    common::Dialogs& dialogs, common::Shell& shell);

} // namespace kestrova::browser
