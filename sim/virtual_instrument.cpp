#include "sim/virtual_instrument.hpp"

#include <algorithm>
#include <cmath>

#include "sim/world.hpp"

namespace kestrova::sim {
namespace {

constexpr std::size_t kMaxLog = 100000;

std::array<std::uint8_t, 8> make_factory_record(const InstrumentOptions& o) {
  switch (o.factory) {
  case FactoryRecordKind::kExplicit:
    return o.factory_bytes;
  case FactoryRecordKind::kBlank:
    return {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  case FactoryRecordKind::kValid:
  case FactoryRecordKind::kInvalid:
    break;
  }
  const auto offset_byte =
      static_cast<std::uint8_t>(std::min(255L, std::lround(std::abs(o.sensor_offset_c) * 10.0)));
  const long slope = std::clamp(std::lround(o.sensor_slope * 1000.0), 0L, 65535L);
  const std::uint8_t month = o.factory == FactoryRecordKind::kValid ? 6 : 13;
  return {0,
          month,
          24,
          static_cast<std::uint8_t>(o.sensor_offset_c < 0 ? 1 : 0),
          offset_byte,
          static_cast<std::uint8_t>(slope & 0xFF),
          static_cast<std::uint8_t>(slope >> 8),
          0};
}

} // namespace

PlateMap PlateMap::from_format(const store::PlateFormat& format) {
  PlateMap map;
  for (int c = 0; c < kChannelCount; ++c) {
    map.well_of_channel[c] = format.map.well_of_channel[c];
    map.well_count = std::max(map.well_count, map.well_of_channel[c] + 1);
  }
  return map;
}

PlateMap PlateMap::w384() { return *builtin("w384"); }
PlateMap PlateMap::w96f() { return *builtin("w96f"); }
PlateMap PlateMap::w96u() { return *builtin("w96u"); }

std::optional<PlateMap> PlateMap::builtin(std::string_view name) {
  const auto format = store::BuiltInPlateFormat(name);
  if (!format) return std::nullopt;
  return from_format(*format);
}

VirtualInstrument::VirtualInstrument(InstrumentOptions options)
    : options_(std::move(options)), faults_(options_.faults) {
  for (int c = 0; c < kChannelCount; ++c)
    set_channel_setting(c, options_.initial_setting);
  const auto record = make_factory_record(options_);
  std::copy(record.begin(), record.end(), bank0_.begin() + 128);
  world_ = std::make_unique<World>(options_);
}

VirtualInstrument::~VirtualInstrument() = default;
VirtualInstrument::VirtualInstrument(VirtualInstrument&&) noexcept = default;
VirtualInstrument& VirtualInstrument::operator=(VirtualInstrument&&) noexcept = default;

double VirtualInstrument::sim_time() const { return world_->time(); }

void VirtualInstrument::advance(double seconds) {
  if (seconds > 0.0) world_->advance(seconds);
}

bool VirtualInstrument::plugged() const {
  const double t = sim_time();
  if (!faults_.unplug_at || t < *faults_.unplug_at) return true;
  return faults_.replug_at && *faults_.replug_at > *faults_.unplug_at && t >= *faults_.replug_at;
}

std::uint8_t VirtualInstrument::channel_setting(int channel) const {
  if (channel < 0 || channel >= kChannelCount) return 0;
  return channel < 128 ? bank0_[channel] : bank1_[channel - 128];
}

void VirtualInstrument::set_channel_setting(int channel, std::uint8_t setting) {
  if (channel < 0 || channel >= kChannelCount) return;
  (channel < 128 ? bank0_[channel] : bank1_[channel - 128]) = setting;
}

std::uint8_t VirtualInstrument::register_value(int bank, int address) const {
  if (address < 0 || address > 255) return 0;
  if (bank == 0) return bank0_[address];
  if (bank == 1) return bank1_[address];
  return 0;
}

std::array<std::uint8_t, 8> VirtualInstrument::factory_record() const {
  std::array<std::uint8_t, 8> record{};
  std::copy(bank0_.begin() + 128, bank0_.begin() + 136, record.begin());
  return record;
}

double VirtualInstrument::temperature_c() const { return world_->temperature_c(); }

std::uint8_t VirtualInstrument::raw_temperature() const {
  const double raw = (temperature_c() - options_.sensor_offset_c) / options_.sensor_slope;
  return static_cast<std::uint8_t>(std::clamp(std::lround(raw), 0L, 255L));
}

double VirtualInstrument::beam_level(int channel) const {
  if (channel < 0 || channel >= kChannelCount) return 0.0;
  return std::min(4095.0, world_->beam_level(channel, channel_setting(channel)));
}

double VirtualInstrument::clear_level(int channel) const {
  if (channel < 0 || channel >= kChannelCount) return 0.0;
  return std::min(4095.0, world_->clear_level(channel, channel_setting(channel)));
}

const std::vector<OrganismState>& VirtualInstrument::organisms() const {
  return world_->organisms();
}

void VirtualInstrument::clear_log() {
  frames_.clear();
  skipped_bytes_ = 0;
}

std::string VirtualInstrument::feed(std::string_view bytes_in) {
  pending_.append(bytes_in);
  std::string out;
  std::size_t pos = 0;
  while (pos < pending_.size()) {
    if (static_cast<std::uint8_t>(pending_[pos]) != kFrameStart) {
      ++pos;
      ++skipped_bytes_;
      continue;
    }
    if (pending_.size() - pos < 5) break;
    if (static_cast<std::uint8_t>(pending_[pos + 4]) != kFrameEnd) {
      ++pos;
      ++skipped_bytes_;
      continue;
    }
    std::array<std::uint8_t, 5> frame{};
    for (int i = 0; i < 5; ++i)
      frame[i] = static_cast<std::uint8_t>(pending_[pos + i]);
    pos += 5;
    FrameRecord record;
    record.bytes = frame;
    record.sim_time = sim_time();
    const std::string reply = handle_frame(frame, record);
    record.reply_size = reply.size();
    if (frames_.size() >= kMaxLog) frames_.erase(frames_.begin(), frames_.begin() + kMaxLog / 2);
    frames_.push_back(record);
    out += reply;
  }
  pending_.erase(0, pos);
  return out;
}

bool VirtualInstrument::take_fault(Fault& fault, const std::array<std::uint8_t, 5>& frame) {
  if (!fault.active()) return false;
  if (fault.code >= 0 && fault.code != frame[2]) return false;
  if (fault.qualifier >= 0 && fault.qualifier != frame[1]) return false;
  if (fault.count > 0) --fault.count;
  return true;
}

std::string VirtualInstrument::handle_frame(const std::array<std::uint8_t, 5>& frame,
                                            FrameRecord& record) {
  if (!plugged() || take_fault(faults_.silent, frame)) {
    record.ignored = true;
    return {};
  }
  const std::uint8_t q = frame[1];
  const std::uint8_t code = frame[2];
  const std::uint8_t arg = frame[3];
  std::string reply;
  if (q == kQualifierWriteBank0 || q == kQualifierWriteBank1) {
    reply = write_reply(q, code, arg);
  } else if (q == 0 && code == kCodeProbe) {
    const int serial = std::max(options_.serial_number, 0);
    reply.push_back(static_cast<char>((serial / 255) & 0xFF));
    reply.push_back(static_cast<char>(serial % 255));
  } else if (q == 0 && code == kCodeSetOutputs) {
    outputs_ = arg & 7;
    world_->set_outputs(outputs_);
  } else if (q <= 1 && code == kCodeSetHalf) {
    // Half 0 is the first register bank (channels 0-127), half 1 the second (128-383).
    const int first = q == 0 ? 0 : 128;
    const int last = q == 0 ? 127 : kChannelCount - 1;
    for (int c = first; c <= last; ++c)
      set_channel_setting(c, arg);
    reply.push_back(static_cast<char>(arg));
  } else if (q <= 1 && code == kCodeReadRegister) {
    reply.push_back(static_cast<char>(register_value(q, arg)));
  } else if (q == 0 && code == kCodeReadTemperature) {
    reply.push_back(static_cast<char>(raw_temperature()));
  } else if (q == 0 && code == kCodeReadBlock && arg <= 96) {
    reply = block_reply(arg);
    if (take_fault(faults_.high_byte, frame)) reply[0] = 16;
  } else {
    record.ignored = true;
    return {};
  }
  if (!reply.empty() && take_fault(faults_.short_reply, frame)) reply.pop_back();
  return reply;
}

std::string VirtualInstrument::write_reply(std::uint8_t qualifier, std::uint8_t address,
                                           std::uint8_t value) {
  const std::array<std::uint8_t, 5> frame{kFrameStart, qualifier, address, value, kFrameEnd};
  if (take_fault(faults_.bad_echo, frame)) {
    return std::string(1, static_cast<char>((address + 1) & 0xFF));
  }
  (qualifier == kQualifierWriteBank0 ? bank0_ : bank1_)[address] = value;
  return std::string(1, static_cast<char>(address));
}

std::string VirtualInstrument::block_reply(int start_channel) {
  // A block samples its 96 beams after a quarter of a scan period has passed.
  world_->advance(options_.scan_seconds / 4.0);
  std::string reply(kBlockBytes, '\0');
  for (int m = 0; m < 32; ++m) {
    for (int r = 0; r < 3; ++r) {
      const int channel = start_channel + m + 128 * r;
      const int value = world_->sample(channel, channel_setting(channel));
      const int i = 2 * (3 * m + r);
      reply[i] = static_cast<char>(value >> 8);
      reply[i + 1] = static_cast<char>(value & 0xFF);
    }
  }
  return reply;
}

} // namespace kestrova::sim
