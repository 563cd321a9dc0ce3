#include "reports/csv_to_xlsx.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "common/text_codec.hpp"
#include "reports/csv_split.hpp"
#include "workbook/workbook_writer.hpp"

namespace kestrova::reports {
namespace fs = std::filesystem;

namespace {

// classify_field with plain_decimal_format(format) computed once by the caller.
FieldValue classify(std::string_view field, const workbook::NumberFormat& format, bool plain_format,
                    std::string& scratch) {
  const std::string_view trimmed = workbook::trim_spaces(field);
  if (trimmed.empty()) return {};
  if (!workbook::looks_like_code(trimmed)) {
    if (plain_format && workbook::plain_decimal_text(trimmed)) {
      return {FieldValue::Kind::Number, trimmed, trimmed};
    }
    if (const auto plain = workbook::number_text(trimmed, format, scratch)) {
      return {FieldValue::Kind::Number, *plain, trimmed};
    }
  }
  return {FieldValue::Kind::Text, {}, trimmed};
}

struct ReadResult {
  std::string bytes;
  long error = 0;
  std::string description;
};

ReadResult read_whole_file(const fs::path& file) {
  ReadResult r;
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    r.error = errno;
    r.description = std::string(std::strerror(errno)) + ": " + file.string();
    return r;
  }
  constexpr std::size_t kChunk = 1 << 20;
  // Room for the whole file plus the last read's chunk, so the string never reallocates.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) {
    r.bytes.reserve(static_cast<std::size_t>(st.st_size) + kChunk);
  }
  for (;;) {
    const std::size_t used = r.bytes.size();
    r.bytes.resize(used + kChunk);
    const ssize_t n = ::read(fd, r.bytes.data() + used, kChunk);
    if (n < 0 && errno == EINTR) {
      r.bytes.resize(used);
      continue;
    }
    r.bytes.resize(used + static_cast<std::size_t>(n > 0 ? n : 0));
    if (n < 0) {
      r.error = errno;
      r.description = std::string(std::strerror(errno)) + ": " + file.string();
      r.bytes.clear();
      break;
    }
    if (n == 0) break;
  }
  ::close(fd);
  return r;
}

// Rows looked at to guess the width of the table before writing it.
constexpr std::size_t kWidthGuessRows = 1000;

// Feeds the split fields straight into the workbook writer, one row at a time, padding each
// row to `columns`. A row wider than that stops the split (`too_wide`).
struct WorkbookSink {
  workbook::WorkbookWriter& writer;
  const workbook::NumberFormat& format;
  bool plain_format;
  std::size_t columns;
  std::size_t fields = 0;
  bool too_wide = false;
  std::string scratch;

  bool stopped() const { return too_wide; }
  void field(std::string_view text) {
    if (fields == 0) writer.begin_row();
    if (++fields > columns) {
      too_wide = true;
      return;
    }
    const FieldValue v = classify(text, format, plain_format, scratch);
    switch (v.kind) {
    case FieldValue::Kind::Empty:
      writer.add_empty();
      break;
    case FieldValue::Kind::Number:
      writer.add_number_text(v.number);
      break;
    case FieldValue::Kind::Text:
      writer.add_string(v.text);
      break;
    }
  }
  void end_row() {
    writer.end_row();
    fields = 0;
  }
};

// Writes the sheet with the width of the widest row. The width of the first rows is tried
// first, which saves a pass over the whole text; a wider row later makes the writer start
// again with the measured width.
workbook::Status write_sheet(workbook::WorkbookWriter& writer, std::string_view text,
                             std::string_view separator, const workbook::NumberFormat& format) {
  std::size_t columns = measure_csv(text, separator, kWidthGuessRows).columns;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (workbook::Status s = writer.begin(columns)) return s;
    WorkbookSink sink{writer, format, workbook::plain_decimal_format(format), columns, 0,
                      false,  {}};
    split_csv(text, separator, sink);
    if (!sink.too_wide) return std::nullopt;
    columns = measure_csv(text, separator).columns;
  }
  return workbook::Error{EINVAL, "Convertir_csv_xlsx: ancho de tabla inestable"};
}

// A quick test, eight bytes at a time, that spares the full UTF-8 check for plain ASCII.
bool all_ascii(std::string_view text) {
  std::size_t i = 0;
  std::uint64_t high = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, text.data() + i, 8);
    high |= word;
  }
  for (; i < text.size(); ++i)
    high |= static_cast<unsigned char>(text[i]);
  return (high & 0x8080808080808080ull) == 0;
}

void show_csv_error(common::Dialogs& dialogs, std::string_view description) {
  dialogs.message("Error en Convertir_csv_xlsx: " + std::string(description), common::Buttons::Ok,
                  common::Icon::Warning);
}

} // namespace

FieldValue classify_field(std::string_view field, const workbook::NumberFormat& format,
                          std::string& scratch) {
  return classify(field, format, workbook::plain_decimal_format(format), scratch);
}

bool Convertir_csv_xlsx(const fs::path& csv, const fs::path& xlsx, std::string_view separator,
                        const fs::path& data_folder, const workbook::NumberFormat& format,
                        common::Dialogs& dialogs, common::Clock& clock) {
  std::string text;
  try {
    ReadResult file = read_whole_file(csv);
    if (file.error != 0) {
      show_csv_error(dialogs, file.description);
      return false;
    }
    if (file.bytes.empty()) {
      show_csv_error(dialogs, kCsvEmptyDescription);
      return false;
    }
    text = std::move(file.bytes);
    if (!all_ascii(text) && !common::is_valid_utf8(text)) {
      text = common::windows1252_to_utf8(text);
    } else if (text.starts_with("\xEF\xBB\xBF")) {
      text.erase(0, 3);
    }
  } catch (const std::exception& e) { // out of memory for a huge file
    show_csv_error(dialogs, e.what());
    return false;
  }
  workbook::Status status;
  try {
    workbook::WorkbookWriter writer(data_folder / workbook::kScratchFolderName, format);
    status = write_sheet(writer, text, separator, format);
    if (!status) status = writer.finish(xlsx, common::to_civil(clock.now()));
  } catch (const std::exception& e) {
    status = workbook::Error{ENOMEM, e.what()};
  }
  if (status) {
    workbook::show_workbook_error(dialogs, *status);
    return false;
  }
  return true;
}

} // namespace kestrova::reports
