#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/clock.hpp"
#include "workbook/error.hpp"

namespace kestrova::workbook {

// DOS time (hour * 2048 + minute * 32 + second / 2) and DOS date ((year - 1980) * 512 +
// month * 32 + day, the year limited to 1980..2107) of the ZIP format.
std::uint16_t dos_time(const common::CivilTime& t);
std::uint16_t dos_date(const common::CivilTime& t);

// The classic ZIP limits: no ZIP64 records are written, so bigger archives are refused.
struct ZipLimits {
  std::uint64_t max_entries = 0xFFFF;
  std::uint64_t max_archive_size = 0xFFFFFFFF;
};

// One file of the archive: its path on disk and its entry name ("/"-separated, UTF-8).
struct ZipEntry {
  std::filesystem::path file;
  std::string name;
  std::uint64_t size = 0;
  std::optional<std::uint32_t> crc; // known beforehand (see KnownPart)
};

// A file whose size and CRC-32 were taken while it was written.
struct KnownPart {
  std::string name; // entry name
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
};

// The files under `folder` in archive order: at each level the files first, then the
// subfolders, each level sorted by name without regard to ASCII case (upper-cased bytes,
// ties by the exact bytes), so the order never depends on the file system. Symbolic links to
// folders are not followed.
std::vector<ZipEntry> list_zip_entries(const std::filesystem::path& folder, Status& status);

// Writes every file under `folder` into the ZIP archive `archive`, stored uncompressed, all
// entries stamped with `stamp`; an empty folder gives no archive (an old one is removed). The
// archive is written to a scratch file beside it (common::ScratchFile) and renamed over the old
// one, so the old archive stays whole until the new one is complete; an archive name that is a
// symbolic link is refused. Archives beyond `limits` are refused with an error.
Status zip_folder(const std::filesystem::path& folder, const std::filesystem::path& archive,
                  const common::CivilTime& stamp, const ZipLimits& limits = {});

// The same, for a folder whose files were just written: a file named in `known` that still
// has the size given there takes that CRC-32 and is copied into the archive by the kernel,
// without being read back. Every other file is read and its CRC computed as above. Once
// `*interrupted` turns true the archive is abandoned (ECANCELED) and its temporary removed.
Status zip_folder(const std::filesystem::path& folder, const std::filesystem::path& archive,
                  const common::CivilTime& stamp, std::span<const KnownPart> known,
                  const ZipLimits& limits = {}, const std::atomic<bool>* interrupted = nullptr);

} // namespace kestrova::workbook
