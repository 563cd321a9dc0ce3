// Reads arbitrary bytes as a record file: the first bytes choose the kinds of fields to read,
// the rest is the file. Nothing may crash or read out of bounds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/text_codec.hpp"
#include "store/record_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t program_size = std::min<std::size_t>(data[0] % 16 + 1, size - 1);
  const auto* program = data + 1;
  const std::string bytes(reinterpret_cast<const char*>(data + 1 + program_size),
                          size - 1 - program_size);
  kestrova::store::RecordReader reader(kestrova::common::decode_text(bytes));
  for (int round = 0; round < 64 && !reader.at_end(); ++round) {
    switch (program[static_cast<std::size_t>(round) % program_size] % 5) {
    case 0:
      (void)reader.read_string();
      break;
    case 1:
      (void)reader.read_integer();
      break;
    case 2:
      (void)reader.read_real();
      break;
    case 3:
      (void)reader.read_boolean();
      break;
    default:
      (void)reader.read_line();
      break;
    }
    if (reader.failed()) break;
  }
  (void)reader.line_number();
  return 0;
}
