#include <memory>

#include "commands.hpp"
#include "reports/csv_to_xlsx.hpp"
#include "workbook/number_text.hpp"

namespace kestrova::tools {

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
    const workbook::NumberFormat format = workbook::locale_number_format();
    const std::string separator = args->separator.value_or(workbook::list_separator_for(format));
    return with_data_folder(context, [&](const std::filesystem::path& data_folder) {
      const bool ok = reports::Convertir_csv_xlsx(args->csv, args->xlsx, separator, data_folder,
                                                  format, context.dialogs, context.clock);
      return ok ? 0 : 1;
    });
  };
}

} // namespace kestrova::tools
