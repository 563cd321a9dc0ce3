#include "sim/virtual_instrument.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#include "sim/world.hpp"

namespace kestrova::sim {
namespace {

constexpr std::size_t kMaxLog = 100000;
constexpr int kFactoryRecordAddress = 128; // registers 128-135 of bank 0

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

TimeSource steady_time_source() {
  return [] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
}

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
  std::copy(record.begin(), record.end(), bank0_.begin() + kFactoryRecordAddress);
  world_ = std::make_unique<World>(options_);
  if (options_.time_mode == TimeMode::kClock) {
    time_source_ = options_.time_source ? options_.time_source : steady_time_source();
    time_origin_ = time_source_();
  }
}

VirtualInstrument::~VirtualInstrument() = default;
VirtualInstrument::VirtualInstrument(VirtualInstrument&&) noexcept = default;
VirtualInstrument& VirtualInstrument::operator=(VirtualInstrument&&) noexcept = default;

double VirtualInstrument::sim_time() const { return world_->time(); }

void VirtualInstrument::advance(double seconds) {
  if (seconds <= 0.0) return;
  if (time_source_) {
    time_ahead_ += seconds;
    update();
  } else {
    world_->advance(seconds);
  }
}

void VirtualInstrument::update() {
  if (!time_source_) return;
  world_->advance_to(time_source_() - time_origin_ + time_ahead_);
}

bool VirtualInstrument::plugged() const {
  return !within(faults_.unplug_at, faults_.replug_at, sim_time());
}

bool VirtualInstrument::cable_connected() const {
  return !faults_.cable_out && !within(faults_.cable_out_at, faults_.cable_in_at, sim_time());
}

void VirtualInstrument::set_noise_scale(double scale) { world_->set_noise_scale(scale); }
void VirtualInstrument::set_drift(double percent_per_min) { world_->set_drift(percent_per_min); }
void VirtualInstrument::set_fixed_beams(const std::vector<FixedBeam>& beams) {
  world_->set_fixed_beams(beams);
}

void VirtualInstrument::set_beam_level(int channel, double level) {
  world_->set_beam_level(channel, std::clamp(level, 0.0, 4095.0));
}
void VirtualInstrument::set_beam_dark(int channel) { world_->set_beam_level(channel, kDarkLevel); }
void VirtualInstrument::release_beam(int channel) { world_->set_beam_level(channel, -1.0); }

void VirtualInstrument::set_saturation(Saturation saturation) {
  world_->set_saturation(std::move(saturation));
}

std::uint8_t VirtualInstrument::channel_setting(int channel) const {
  if (channel < 0 || channel >= kChannelCount) return 0;
  return channel < kBankChannels ? bank0_[channel] : bank1_[channel - kBankChannels];
}

void VirtualInstrument::set_channel_setting(int channel, std::uint8_t setting) {
  if (channel < 0 || channel >= kChannelCount) return;
  (channel < kBankChannels ? bank0_[channel] : bank1_[channel - kBankChannels]) = setting;
}

std::uint8_t VirtualInstrument::register_value(int bank, int address) const {
  if (address < 0 || address > 255) return 0;
  if (bank == 0) return bank0_[address];
  if (bank == 1) return bank1_[address];
  return 0;
}

std::array<std::uint8_t, 8> VirtualInstrument::factory_record() const {
  std::array<std::uint8_t, 8> record{};
  std::copy_n(bank0_.begin() + kFactoryRecordAddress, record.size(), record.begin());
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
  std::string out;
  for (const auto& piece : respond(bytes_in))
    out += piece.bytes;
  return out;
}

std::vector<ReplyPiece> VirtualInstrument::respond(std::string_view bytes_in) {
  pending_.append(bytes_in);
  std::vector<ReplyPiece> out;
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
    update();
    FrameRecord record;
    record.bytes = frame;
    record.sim_time = sim_time();
    // A reply without a pause joins the piece before it, so count bytes, not pieces.
    const auto bytes_out = [&out] {
      std::size_t n = 0;
      for (const auto& piece : out)
        n += piece.bytes.size();
      return n;
    };
    const std::size_t before = bytes_out();
    add_timed(frame, handle_frame(frame, record), out);
    record.reply_size = bytes_out() - before;
    if (frames_.size() >= kMaxLog) frames_.erase(frames_.begin(), frames_.begin() + kMaxLog / 2);
    frames_.push_back(record);
  }
  pending_.erase(0, pos);
  return out;
}

void VirtualInstrument::add_timed(const std::array<std::uint8_t, 5>& frame, std::string reply,
                                  std::vector<ReplyPiece>& out) {
  if (reply.empty()) return;
  double pause_s = 0.0;
  if (faults_.late.when.take(frame)) pause_s = std::max(faults_.late.delay_ms, 0.0) / 1000.0;
  auto& stall = faults_.stall;
  const std::size_t keep = static_cast<std::size_t>(std::max(stall.after_bytes, 0));
  const bool stalls = reply.size() > keep && stall.when.take(frame);
  std::string rest;
  if (stalls) {
    rest = reply.substr(keep);
    reply.resize(keep);
  }
  // Pieces without a pause join the piece before them, as they would on the line.
  if (pause_s > 0.0 || out.empty()) {
    out.push_back({pause_s, std::move(reply)});
  } else {
    out.back().bytes += reply;
  }
  if (stalls && stall.pause_ms) {
    out.push_back({std::max(*stall.pause_ms, 0.0) / 1000.0, std::move(rest)});
  }
}

std::string VirtualInstrument::handle_frame(const std::array<std::uint8_t, 5>& frame,
                                            FrameRecord& record) {
  if (!plugged() || !cable_connected() || faults_.silent.take(frame)) {
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
    const int first = q == 0 ? 0 : kBankChannels;
    const int last = q == 0 ? kBankChannels - 1 : kChannelCount - 1;
    for (int c = first; c <= last; ++c)
      set_channel_setting(c, arg);
    reply.push_back(static_cast<char>(arg));
  } else if (q <= 1 && code == kCodeReadRegister) {
    reply.push_back(static_cast<char>(read_register(q, arg)));
  } else if (q == 0 && code == kCodeReadTemperature) {
    reply.push_back(static_cast<char>(raw_temperature()));
  } else if (q == 0 && code == kCodeReadBlock && arg <= 96) {
    reply = block_reply(arg);
    if (faults_.high_byte.take(frame)) reply[0] = 16;
  } else {
    record.ignored = true;
    return {};
  }
  if (!reply.empty() && faults_.short_reply.take(frame)) reply.pop_back();
  return reply;
}

std::string VirtualInstrument::write_reply(std::uint8_t qualifier, std::uint8_t address,
                                           std::uint8_t value) {
  const std::array<std::uint8_t, 5> frame{kFrameStart, qualifier, address, value, kFrameEnd};
  if (faults_.bad_echo.take(frame)) {
    return std::string(1, static_cast<char>((address + 1) & 0xFF));
  }
  (qualifier == kQualifierWriteBank0 ? bank0_ : bank1_)[address] = value;
  return std::string(1, static_cast<char>(address));
}

std::uint8_t VirtualInstrument::read_register(std::uint8_t bank, std::uint8_t address) {
  const std::uint8_t value = register_value(bank, address);
  auto& unstable = faults_.unstable;
  if (!unstable.active() || unstable.bank != bank || unstable.address != address) return value;
  const bool wrong = unstable.wrong_next;
  unstable.wrong_next = !wrong;
  if (!wrong) return value;
  if (unstable.wrong_reads > 0) --unstable.wrong_reads;
  return value ^ 1;
}

std::string VirtualInstrument::block_reply(int start_channel) {
  // Per scan, a block samples its 96 beams after a quarter of a scan period has passed.
  if (!time_source_) world_->advance(options_.scan_seconds / 4.0);
  std::string reply(kBlockBytes, '\0');
  for (int m = 0; m < 32; ++m) {
    for (int r = 0; r < 3; ++r) {
      const int channel = start_channel + m + kBankChannels * r;
      const int value = world_->sample(channel, channel_setting(channel));
      const int i = 2 * (3 * m + r);
      reply[i] = static_cast<char>(value >> 8);
      reply[i + 1] = static_cast<char>(value & 0xFF);
    }
  }
  return reply;
}

} // namespace kestrova::sim
