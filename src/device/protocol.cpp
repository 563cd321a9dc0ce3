#include "device/protocol.hpp"

#include <algorithm>
#include <string>

namespace kestrova::device {

namespace {

bool is_byte(int v) { return v >= 0 && v <= 255; }

// Power 0..31 and gain 0..7: anything else would spill into the other field of the byte.
bool valid_setting(int power, int gain) {
  return power >= 0 && power <= 31 && gain >= 0 && gain <= 7;
}

} // namespace

std::string make_frame(int qualifier, int code, int argument) {
  if (!is_byte(qualifier) || !is_byte(code) || !is_byte(argument)) return {};
  return {static_cast<char>(kFrameStart), static_cast<char>(qualifier), static_cast<char>(code),
          static_cast<char>(argument), static_cast<char>(kFrameEnd)};
}

int serial_from_reply(std::string_view reply) {
  if (reply.empty()) return -1;
  const int first = static_cast<unsigned char>(reply[0]);
  const int second = reply.size() > 1 ? static_cast<unsigned char>(reply[1]) : 0;
  return first * 255 + second;
}

ParsedBlock parse_block(std::string_view bytes) {
  ParsedBlock block;
  block.received = static_cast<int>(bytes.size());
  const std::size_t pairs = std::min<std::size_t>(bytes.size(), kBlockBytes) / 2;
  for (std::size_t i = 0; i < pairs; ++i) {
    int high = static_cast<unsigned char>(bytes[2 * i]);
    const int low = static_cast<unsigned char>(bytes[2 * i + 1]);
    if (high > 15) {
      high = 15;
      block.high_clipped = true;
    }
    block.values[i] = high * 256 + low;
  }
  return block;
}

void distribute_block(int start_channel, const std::array<int, kBlockValues>& values,
                      std::span<std::int16_t> channels) {
  for (int i = 0; i < kBlockValues; ++i) {
    const int ch = block_channel(start_channel, i);
    if (ch >= 0 && static_cast<std::size_t>(ch) < channels.size())
      channels[static_cast<std::size_t>(ch)] = static_cast<std::int16_t>(values[i]);
  }
}

int DeviceProtocol::DeviceSend(int code, int argument, int qualifier) {
  const std::string frame = make_frame(qualifier, code, argument);
  if (frame.empty()) return -1;
  return io_.CommWrite(link_.port, frame) == static_cast<int>(frame.size()) ? 0 : -1;
}

int DeviceProtocol::DeviceQuery(int code, int argument, int qualifier) {
  if (DeviceSend(code, argument, qualifier) != 0) return -1;
  std::string reply;
  if (io_.CommReadReply(link_.port, reply, 2, 1) < 1 || reply.empty()) return -1;
  return static_cast<unsigned char>(reply[0]);
}

int DeviceProtocol::ReadRegister(int address, int bank) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0) clock_.sleep_ms(1);
    const int v = DeviceQuery(kCodeReadRegister, address, bank);
    if (v >= 0) return v;
  }
  return -1;
}

bool DeviceProtocol::write_pass(int qualifier, int echo, int setting, int pause_ms) {
  int last = -1;
  for (int i = 0; i < 9; ++i) {
    last = DeviceQuery(echo, setting, qualifier);
    if (pause_ms > 0) clock_.sleep_ms(pause_ms);
  }
  return last == echo;
}

int DeviceProtocol::WriteChannelSetting(int channel, int power, int gain) {
  if (channel < 0 || channel >= store::kChannelCount || !valid_setting(power, gain)) return -1;
  const int setting = gain * 32 + power;
  const int qualifier = channel < 128 ? kQualifierWriteLow : kQualifierWriteHigh;
  const int echo = channel < 128 ? channel : channel - 128;

  if (write_pass(qualifier, echo, setting, 0)) return 1;
  for (int pass = 2; pass <= 4; ++pass) {
    // Recovery before the slower passes: pause, a harmless temperature query, pause; the last
    // pass also drops whatever the line holds.
    if (pass == 4) io_.CommFlush(link_.port);
    clock_.sleep_ms(150);
    DeviceQuery(kCodeTemperature, 0, 0);
    clock_.sleep_ms(150);
    if (write_pass(qualifier, echo, setting, 100)) return 1;
  }
  dialogs_.message("Ops...Data Writing ERROR: reg(" + std::to_string(channel) +
                       ")... Check COM and Try again",
                   common::Buttons::Ok);
  return -1;
}

int DeviceProtocol::WriteRegister(int address, int value) {
  if (is_byte(address) && is_byte(value)) {
    if (write_pass(kQualifierWriteLow, address, value, 0)) return 1;
    for (int pass = 2; pass <= 3; ++pass) {
      clock_.sleep_ms(100);
      DeviceQuery(kCodeTemperature, 0, 0);
      clock_.sleep_ms(100);
      if (write_pass(kQualifierWriteLow, address, value, 50)) return 1;
    }
  }
  dialogs_.message("Ops...Data Writing ERROR: reg(" + std::to_string(address) +
                       ")... Check COM and Try again",
                   common::Buttons::Ok);
  return -1;
}

int DeviceProtocol::SetAllChannels(int gain, int power) {
  if (!valid_setting(power, gain)) return -1;
  const int setting = gain * 32 + power;
  for (int half = 0; half <= 1; ++half) {
    bool answered = false;
    for (int attempt = 0; attempt < 2 && !answered; ++attempt) {
      answered = DeviceQuery(kCodeSetHalf, setting, half) >= 0;
      clock_.sleep_ms(10);
    }
    if (!answered) return -1;
  }
  return 1;
}

ParsedBlock DeviceProtocol::ReadIntensityBlock(int start_channel, BlockRead how) {
  io_.CommFlush(link_.port);
  if (DeviceSend(kCodeReadBlock, start_channel, 0) != 0) return parse_block({});
  std::string bytes;
  if (how == BlockRead::Whole) {
    io_.CommRead(link_.port, bytes, kBlockBytes);
  } else {
    std::string second;
    io_.CommRead(link_.port, bytes, kBlockValues);
    io_.CommRead(link_.port, second, kBlockValues);
    bytes += second;
  }
  return parse_block(bytes);
}

} // namespace kestrova::device
