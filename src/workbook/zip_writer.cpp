#include "workbook/zip_writer.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "common/safe_file.hpp"
#include "workbook/crc32.hpp"
#include "workbook/file_writer.hpp"

namespace kestrova::workbook {
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034B50;
constexpr std::uint32_t kCentralSignature = 0x02014B50;
constexpr std::uint32_t kEndSignature = 0x06054B50;
constexpr std::uint16_t kVersion = 20;
constexpr std::uint16_t kUtf8Flag = 0x0800;
constexpr std::uint64_t kLocalHeaderSize = 30;
constexpr std::uint64_t kCentralHeaderSize = 46;
constexpr std::uint64_t kEndRecordSize = 22;
constexpr std::size_t kReadChunk = 1 << 20;

bool name_less(const std::string& a, const std::string& b) {
  const auto upper = [](unsigned char c) {
    return static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  };
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = upper(static_cast<unsigned char>(a[i]));
    const auto cb = upper(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

void list_level(const fs::path& dir, const std::string& prefix, std::vector<ZipEntry>& out,
                Status& status) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) {
    status = system_error(ec.value(), dir.string());
    return;
  }
  std::vector<std::pair<std::string, std::uint64_t>> files;
  std::vector<std::string> folders;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    const fs::directory_entry& e = *it;
    const std::string name = e.path().filename().string();
    std::error_code sec;
    if (e.is_symlink(sec)) {
      if (e.is_regular_file(sec)) files.emplace_back(name, e.file_size(sec));
    } else if (e.is_directory(sec)) {
      folders.push_back(name);
    } else if (e.is_regular_file(sec)) {
      files.emplace_back(name, e.file_size(sec));
    }
    if (sec) {
      status = system_error(sec.value(), e.path().string());
      return;
    }
  }
  if (ec) {
    status = system_error(ec.value(), dir.string());
    return;
  }
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return name_less(a.first, b.first); });
  std::sort(folders.begin(), folders.end(), name_less);
  for (const auto& [name, size] : files)
    out.push_back({dir / name, prefix + name, size, std::nullopt});
  for (const auto& name : folders) {
    list_level(dir / name, prefix + name + "/", out, status);
    if (status) return;
  }
}

Error limit_error(const std::string& what) { return Error{EFBIG, what}; }

Status check_limits(const std::vector<ZipEntry>& entries, const ZipLimits& limits) {
  if (entries.size() > limits.max_entries) {
    return limit_error("el archivo ZIP tendría " + std::to_string(entries.size()) +
                       " entradas; el formato admite como máximo " +
                       std::to_string(limits.max_entries));
  }
  std::uint64_t total = kEndRecordSize;
  for (const ZipEntry& e : entries) {
    if (e.name.size() > 0xFFFF) return limit_error("nombre de entrada demasiado largo: " + e.name);
    total += kLocalHeaderSize + kCentralHeaderSize + 2 * e.name.size() + e.size;
  }
  if (total > limits.max_archive_size) {
    return limit_error("el archivo ZIP ocuparía " + std::to_string(total) +
                       " bytes; el formato admite como máximo " +
                       std::to_string(limits.max_archive_size));
  }
  return std::nullopt;
}

struct Written {
  std::uint32_t crc = 0;
  std::uint32_t size = 0;
  std::uint32_t offset = 0;
};

void put_common_fields(FileWriter& out, std::uint16_t time, std::uint16_t date, const Written& w,
                       std::size_t name_size) {
  out.put_u16(kVersion);
  out.put_u16(kUtf8Flag);
  out.put_u16(0); // stored
  out.put_u16(time);
  out.put_u16(date);
  out.put_u32(w.crc);
  out.put_u32(w.size);
  out.put_u32(w.size);
  out.put_u16(static_cast<std::uint16_t>(name_size));
  out.put_u16(0); // extra field length
}

Error grown_error(const ZipLimits& limits, const ZipEntry& e) {
  return limit_error("el archivo ZIP superaría el máximo del formato (" +
                     std::to_string(limits.max_archive_size) + " bytes): " + e.file.string() +
                     " ha crecido");
}

// Streams the file through `chunk`, computing its CRC; the CRC and the sizes are patched into
// the local header once the bytes have been read.
Status copy_computing_crc(FileWriter& out, int fd, const ZipEntry& e, std::uint64_t header,
                          const ZipLimits& limits, char* chunk, Written& w) {
  Crc32 crc;
  std::uint64_t size = 0;
  for (;;) {
    const ssize_t n = ::read(fd, chunk, kReadChunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return system_error(errno, e.file.string());
    }
    if (n == 0) break;
    crc.update(chunk, static_cast<std::size_t>(n));
    out.write(chunk, static_cast<std::size_t>(n));
    size += static_cast<std::uint64_t>(n);
    if (out.position() + kEndRecordSize > limits.max_archive_size) return grown_error(limits, e);
  }
  w.crc = crc.value();
  w.size = static_cast<std::uint32_t>(size);
  char fields[12];
  for (int i = 0; i < 4; ++i) {
    fields[i] = static_cast<char>((w.crc >> (8 * i)) & 0xFF);
    fields[4 + i] = fields[8 + i] = static_cast<char>((w.size >> (8 * i)) & 0xFF);
  }
  out.patch(header + 14, fields, sizeof fields);
  return std::nullopt;
}

// Writes the local header, the name and the file's bytes. A file with a known CRC that still
// has its known size is copied by the kernel; any other is read and its CRC computed.
Status write_local_entry(FileWriter& out, const ZipEntry& e, std::uint16_t time, std::uint16_t date,
                         const ZipLimits& limits, char* chunk, Written& w) {
  const int fd = ::open(e.file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return system_error(errno, e.file.string());
  struct stat st {};
  const bool known =
      e.crc && ::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) == e.size;
  const std::uint64_t header = out.position();
  w.offset = static_cast<std::uint32_t>(header);
  w.crc = known ? *e.crc : 0;
  w.size = known ? static_cast<std::uint32_t>(e.size) : 0;
  out.put_u32(kLocalSignature);
  put_common_fields(out, time, date, w, e.name.size());
  out.write(e.name);
  Status status;
  if (!known) {
    status = copy_computing_crc(out, fd, e, header, limits, chunk, w);
  } else if (out.position() + e.size + kEndRecordSize > limits.max_archive_size) {
    status = grown_error(limits, e);
  } else {
    status = out.copy_from(fd, e.size, e.file);
  }
  ::close(fd);
  return status;
}

Status write_archive(FileWriter& out, const std::vector<ZipEntry>& entries,
                     const common::CivilTime& stamp, const ZipLimits& limits) {
  const std::uint16_t time = dos_time(stamp);
  const std::uint16_t date = dos_date(stamp);
  std::vector<Written> written(entries.size());
  std::unique_ptr<char[]> chunk(new char[kReadChunk]);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (Status s = write_local_entry(out, entries[i], time, date, limits, chunk.get(), written[i]))
      return s;
    if (out.failed()) return out.close();
  }
  const std::uint64_t directory_start = out.position();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    out.put_u32(kCentralSignature);
    out.put_u16(kVersion); // version made by
    put_common_fields(out, time, date, written[i], entries[i].name.size());
    out.put_u16(0); // comment length
    out.put_u16(0); // disk number start
    out.put_u16(0); // internal attributes
    out.put_u32(0); // external attributes
    out.put_u32(written[i].offset);
    out.write(entries[i].name);
  }
  const std::uint64_t directory_size = out.position() - directory_start;
  if (out.position() + kEndRecordSize > limits.max_archive_size) {
    return limit_error("el archivo ZIP superaría el máximo del formato (" +
                       std::to_string(limits.max_archive_size) + " bytes)");
  }
  const auto n = static_cast<std::uint16_t>(entries.size());
  out.put_u32(kEndSignature);
  out.put_u16(0);
  out.put_u16(0);
  out.put_u16(n);
  out.put_u16(n);
  out.put_u32(static_cast<std::uint32_t>(directory_size));
  out.put_u32(static_cast<std::uint32_t>(directory_start));
  out.put_u16(0);
  return out.close();
}

} // namespace

std::uint16_t dos_time(const common::CivilTime& t) {
  return static_cast<std::uint16_t>(t.hour * 2048 + t.minute * 32 + t.second / 2);
}

std::uint16_t dos_date(const common::CivilTime& t) {
  const int year = std::clamp(t.year, 1980, 2107);
  return static_cast<std::uint16_t>((year - 1980) * 512 + t.month * 32 + t.day);
}

std::vector<ZipEntry> list_zip_entries(const fs::path& folder, Status& status) {
  std::vector<ZipEntry> entries;
  status.reset();
  list_level(folder, "", entries, status);
  return entries;
}

Status zip_folder(const fs::path& folder, const fs::path& archive, const common::CivilTime& stamp,
                  const ZipLimits& limits) {
  return zip_folder(folder, archive, stamp, {}, limits);
}

Status zip_folder(const fs::path& folder, const fs::path& archive, const common::CivilTime& stamp,
                  std::span<const KnownPart> known, const ZipLimits& limits,
                  const std::atomic<bool>* interrupted) {
  Status status;
  std::vector<ZipEntry> entries = list_zip_entries(folder, status);
  if (status) return status;
  for (ZipEntry& e : entries) {
    for (const KnownPart& k : known) {
      if (k.name == e.name && k.size == e.size) e.crc = k.crc;
    }
  }
  if (entries.empty()) {
    std::error_code ignored;
    fs::remove(archive, ignored);
    return std::nullopt;
  }
  if (Status s = check_limits(entries, limits)) return s;

  // The old archive stays until the new one is renamed over it; the scratch file goes with
  // `scratch` on any failure or interruption.
  if (std::string refusal = common::replace_refusal(archive); !refusal.empty())
    return Error{ELOOP, refusal};
  common::ScratchFile scratch(archive);
  const int fd = scratch.ok() ? ::dup(scratch.fd()) : -1;
  if (fd < 0) return system_error(scratch.ok() ? errno : scratch.error_number(), archive.string());
  FileWriter out;
  out.adopt(fd, scratch.path());
  out.stop_when(interrupted);
  status = write_archive(out, entries, stamp, limits);
  if (!status) status = out.close();
  out.close();
  if (!status && !scratch.commit())
    status = scratch.error_number() == 0 ? Error{EIO, scratch.error()}
                                         : system_error(scratch.error_number(), archive.string());
  return status;
}

} // namespace kestrova::workbook
