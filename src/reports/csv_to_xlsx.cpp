#include "reports/csv_to_xlsx.hpp"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "common/text_codec.hpp"
#include "reports/csv_split.hpp"
#include "reports/field_relay.hpp"
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

// The bytes of a file, in memory that is not cleared before it is read into.
struct ReadResult {
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
  long error = 0;
  std::string description;

  std::string_view text() const { return {bytes.get(), size}; }
};

// Asks for large pages under a large buffer: reading tens of megabytes into fresh memory
// otherwise costs a page fault every 4 KiB.
void prefer_huge_pages(char* data, std::size_t size) {
  constexpr std::size_t kHuge = 2u << 20;
  if (size < 2 * kHuge) return;
  const auto start = (reinterpret_cast<std::uintptr_t>(data) + kHuge - 1) & ~(kHuge - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHuge - 1);
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

ReadResult read_whole_file(const fs::path& file) {
  ReadResult r;
  const auto fail = [&](int e) {
    r.error = e;
    r.description = std::string(std::strerror(e)) + ": " + file.string();
    r.bytes.reset();
    r.size = 0;
  };
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    fail(errno);
    return r;
  }
  // Closed also when a buffer cannot be had (the caller reports the bad_alloc).
  const struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  // Room for the size the file has now; a file still growing gets more room as it comes.
  struct stat st {};
  std::size_t capacity = 1 << 16;
  if (::fstat(fd, &st) == 0 && st.st_size > 0) capacity = static_cast<std::size_t>(st.st_size) + 1;
  r.bytes.reset(new char[capacity]);
  prefer_huge_pages(r.bytes.get(), capacity);
  for (;;) {
    if (r.size == capacity) {
      const std::size_t grown = capacity * 2;
      std::unique_ptr<char[]> more(new char[grown]);
      std::memcpy(more.get(), r.bytes.get(), r.size);
      r.bytes = std::move(more);
      capacity = grown;
    }
    const ssize_t n = ::read(fd, r.bytes.get() + r.size, capacity - r.size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      fail(errno);
      break;
    }
    if (n == 0) break;
    r.size += static_cast<std::size_t>(n);
  }
  return r;
}

// Rows looked at to guess the width of the table before writing it.
constexpr std::size_t kWidthGuessRows = 1000;

// Feeds the split fields straight into the workbook writer, one row at a time, padding each
// row to `columns`. A row wider than that stops the split (`too_wide`), as does a sheet that
// can no longer be written.
struct WorkbookSink {
  workbook::WorkbookWriter& writer;
  const workbook::NumberFormat& format;
  bool plain_format;
  std::size_t columns;
  std::size_t fields = 0;
  bool too_wide = false;
  std::string scratch;

  bool stopped() const { return too_wide || writer.failed(); }
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

// Splits and classifies the fields on the calling thread and passes them on through `relay`
// to the thread that writes them. A row wider than `columns` stops the split (`too_wide`), as
// does a writing thread that gave up (no batch to fill).
struct RelaySink {
  FieldRelay& relay;
  std::string_view text;
  const workbook::NumberFormat& format;
  bool plain_format;
  std::size_t columns;
  FieldBatch* batch = nullptr;
  std::size_t fields = 0;
  bool too_wide = false;
  std::string scratch;

  bool stopped() const { return too_wide || batch == nullptr; }
  void field(std::string_view value) {
    if (batch == nullptr) return;
    if (++fields > columns) {
      too_wide = true;
      return;
    }
    const FieldValue v = classify(value, format, plain_format, scratch);
    switch (v.kind) {
    case FieldValue::Kind::Empty:
      batch->items.push_back({0, 0, FieldBatch::Kind::Empty, false});
      break;
    case FieldValue::Kind::Number:
      batch->add(FieldBatch::Kind::Number, v.number, text);
      break;
    case FieldValue::Kind::Text:
      batch->add(FieldBatch::Kind::Text, v.text, text);
      break;
    }
    if (batch->full()) pass_on();
  }
  void end_row() {
    fields = 0;
    if (batch == nullptr) return;
    batch->add_row_end();
    if (batch->full()) pass_on();
  }
  void pass_on() {
    relay.hand_over(batch);
    batch = relay.take_free();
  }
};

// The writing side of the relay: every batch's fields become cells, row by row.
void write_fields(FieldRelay& relay, workbook::WorkbookWriter& writer, std::string_view text) {
  bool in_row = false;
  while (FieldBatch* batch = relay.take_filled()) {
    for (const FieldBatch::Item& item : batch->items) {
      if (!in_row) writer.begin_row();
      in_row = item.kind != FieldBatch::Kind::RowEnd;
      switch (item.kind) {
      case FieldBatch::Kind::Empty:
        writer.add_empty();
        break;
      case FieldBatch::Kind::Number:
        writer.add_number_text(batch->value(item, text));
        break;
      case FieldBatch::Kind::Text:
        writer.add_string(batch->value(item, text));
        break;
      case FieldBatch::Kind::RowEnd:
        writer.end_row();
        break;
      }
    }
    relay.give_back(batch);
    if (writer.failed()) { // a full disk, say: no use splitting the rest
      relay.stop();
      return;
    }
  }
}

// One attempt at the rows with `columns` columns. With a second thread the cells are written
// (string table, XML, file) while this thread splits and classifies the text, so the two
// halves of the work overlap; without one, or when it cannot be started, both run here.
// Returns true when a row was wider than `columns`.
bool write_rows(workbook::WorkbookWriter& writer, std::string_view text, std::string_view separator,
                const workbook::NumberFormat& format, std::size_t columns, Threading threading) {
  const bool plain = workbook::plain_decimal_format(format);
  if (threading == Threading::Background) {
    FieldRelay relay;
    std::exception_ptr failure;
    std::thread worker;
    try {
      worker = std::thread([&] {
        try {
          write_fields(relay, writer, text);
        } catch (...) {
          failure = std::current_exception();
          relay.stop();
        }
      });
    } catch (const std::system_error&) {
      // No thread to be had: write on this one.
    }
    if (worker.joinable()) {
      RelaySink sink{relay, text, format, plain, columns, nullptr, 0, false, {}};
      try {
        sink.batch = relay.take_free();
        split_csv(text, separator, sink);
        if (sink.too_wide) {
          relay.stop();
        } else {
          if (sink.batch != nullptr) relay.hand_over(sink.batch);
          relay.close();
        }
      } catch (...) { // the worker uses the relay and the writer: join it on every way out
        relay.stop();
        worker.join();
        throw;
      }
      worker.join();
      if (failure) std::rethrow_exception(failure);
      return sink.too_wide;
    }
  }
  WorkbookSink sink{writer, format, plain, columns, 0, false, {}};
  split_csv(text, separator, sink);
  return sink.too_wide;
}

// Writes the sheet with the width of the widest row. The width of the first rows is tried
// first, which saves a pass over the whole text; a wider row later makes the writer start
// again with the measured width.
workbook::Status write_sheet(workbook::WorkbookWriter& writer, std::string_view text,
                             std::string_view separator, const workbook::NumberFormat& format,
                             Threading threading) {
  std::size_t columns = measure_csv(text, separator, kWidthGuessRows).columns;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (workbook::Status s = writer.begin(columns)) return s;
    if (!write_rows(writer, text, separator, format, columns, threading)) return std::nullopt;
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
                        common::Dialogs& dialogs, common::Clock& clock, Threading threading,
                        const std::atomic<bool>* interrupted) {
  ReadResult file;
  std::string decoded; // the text when it had to be decoded from Windows-1252
  std::string_view text;
  try {
    file = read_whole_file(csv);
    if (file.error != 0) {
      show_csv_error(dialogs, file.description);
      return false;
    }
    if (file.size == 0) {
      show_csv_error(dialogs, kCsvEmptyDescription);
      return false;
    }
    text = file.text();
    if (!all_ascii(text) && !common::is_valid_utf8(text)) {
      decoded = common::windows1252_to_utf8(text);
      file.bytes.reset();
      text = decoded;
    } else if (text.starts_with("\xEF\xBB\xBF")) {
      text.remove_prefix(3);
    }
  } catch (const std::exception& e) { // out of memory for a huge file
    show_csv_error(dialogs, e.what());
    return false;
  }
  workbook::Status status;
  try {
    workbook::WorkbookWriter writer(data_folder / workbook::kScratchFolderName, format,
                                    interrupted);
    status = write_sheet(writer, text, separator, format, threading);
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
