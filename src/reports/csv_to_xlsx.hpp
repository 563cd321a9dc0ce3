#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "workbook/number_text.hpp"

namespace kestrova::reports {

// Error number of an empty CSV file (the application error base plus 2001).
inline constexpr long kCsvEmptyError = static_cast<std::int32_t>(0x800407D1u);
inline constexpr std::string_view kCsvEmptyDescription = "El archivo CSV está vacío";

// What a CSV field becomes in the workbook. `text` views the trimmed field; for a number,
// `number` views its plain decimal text (see workbook::number_text).
struct FieldValue {
  enum class Kind { Empty, Number, Text };
  Kind kind = Kind::Empty;
  std::string_view number;
  std::string_view text;
};

// Converts one field: spaces trimmed; empty gives an empty cell; a number in `format`
// gives a number, except a code with a leading zero such as 0042, which stays text so its
// zeros are kept; anything else is text. `scratch` holds a rewritten number text.
FieldValue classify_field(std::string_view field, const workbook::NumberFormat& format,
                          std::string& scratch);

// Whether the conversion writes the worksheet on a second thread while the CSV is split
// (the default) or does all of its work on the calling thread.
enum class Threading { Background, Single };

// Converts the CSV file `csv` (fields split by the one-character `separator`, numbers read
// with `format`) into a one-sheet workbook at `xlsx`, working in the scratch folder
// `data_folder`/tmp_xlsx. Failures are shown with `dialogs`: "Error en Convertir_csv_xlsx: "
// + description for the CSV, the workbook writer's own message for the workbook. Returns true
// when the workbook was written. Once `*interrupted` turns true (set from a signal handler, say)
// the conversion stops within a buffer of output and removes its partial archive.
bool Convertir_csv_xlsx(const std::filesystem::path& csv, const std::filesystem::path& xlsx,
                        std::string_view separator, const std::filesystem::path& data_folder,
                        const workbook::NumberFormat& format, common::Dialogs& dialogs,
                        common::Clock& clock, Threading threading = Threading::Background,
                        const std::atomic<bool>* interrupted = nullptr);

} // namespace kestrova::reports
