#include <filesystem>
#include <iostream>
#include <memory>

#include "commands.hpp"
#include "reports/csv_to_xlsx.hpp"
#include "reports/report_settings.hpp"
#include "workbook/number_text.hpp"
#include "workbook/workbook_writer.hpp"

namespace kestrova::tools {

namespace {

namespace fs = std::filesystem;

// Whether `file` lies inside `folder` (both as they resolve on disk).
bool inside(const fs::path& file, const fs::path& folder) {
  std::error_code ec;
  const fs::path f = fs::weakly_canonical(fs::absolute(file, ec), ec);
  const fs::path d = fs::weakly_canonical(fs::absolute(folder, ec), ec);
  if (ec) return false;
  const auto [d_end, f_at] = std::mismatch(d.begin(), d.end(), f.begin(), f.end());
  return d_end == d.end();
}

// Why the files given cannot be converted, or nothing: the workbook must not replace the CSV
// (the same file under any name), and neither may lie in the scratch folder, which every
// conversion empties.
std::optional<std::string> refuse_files(const fs::path& csv, const fs::path& xlsx,
                                        const std::optional<fs::path>& data_dir) {
  std::error_code ec;
  if (fs::equivalent(csv, xlsx, ec))
    return "the workbook " + xlsx.string() + " would replace the CSV file " + csv.string();
  if (data_dir) {
    const fs::path scratch = *data_dir / std::string(workbook::kScratchFolderName);
    for (const fs::path& file : {csv, xlsx}) {
      if (inside(file, scratch))
        return file.string() + " lies in the scratch folder " + scratch.string() +
               ", which the conversion empties";
    }
  }
  return std::nullopt;
}

} // namespace

// xlsx CSV_FILE XLSX_FILE [--separator TEXT]: the CSV-to-workbook conversion of a report.
Runner setup_xlsx(CLI::App& command) {
  struct Args {
    std::string csv;
    std::string xlsx;
    std::optional<std::string> separator;
  };
  auto args = std::make_shared<Args>();
  command.add_option("CSV_FILE", args->csv, "CSV report to convert")->required();
  command.add_option("XLSX_FILE", args->xlsx, "workbook to write")->required();
  command.add_option("--separator", args->separator,
                     "field separator (default: the locale's list separator)");
  return [args](Context& context) {
    if (const auto refusal = refuse_files(args->csv, args->xlsx, context.data_dir)) {
      std::cerr << "kestrova-report: " << *refusal << '\n';
      return 1;
    }
    const workbook::NumberFormat format = workbook::locale_number_format();
    const std::string separator = args->separator.value_or(workbook::list_separator_for(format));
    if (const auto problem = reports::separator_problem(separator)) {
      std::cerr << "kestrova-report: " << *problem << '\n';
      return 2;
    }
    return with_data_folder(context, [&](const std::filesystem::path& data_folder) {
      const bool ok = reports::Convertir_csv_xlsx(
          args->csv, args->xlsx, separator, data_folder, format, context.dialogs, context.clock,
          reports::Threading::Background,
          context.cancel != nullptr ? context.cancel->flag() : nullptr);
      return ok ? 0 : 1;
    });
  };
}

} // namespace kestrova::tools
