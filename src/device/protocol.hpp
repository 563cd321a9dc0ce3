#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "device/link_state.hpp"
#include "device/serial_ports.hpp"
#include "store/channel_grid.hpp"

namespace kestrova::device {

// Command codes (byte 3 of a frame) and frame marks.
inline constexpr int kFrameStart = 0xFF;
inline constexpr int kFrameEnd = 0xF0;
inline constexpr int kCodeProbe = 0x00;
inline constexpr int kCodeSetOutputs = 0x10;
inline constexpr int kCodeSetHalf = 0x11;
inline constexpr int kCodeReadRegister = 0x20;
inline constexpr int kCodeTemperature = 0x21;
inline constexpr int kCodeReadBlock = 0x30;
inline constexpr int kQualifierWriteLow = 0x80;  // channels 0..127
inline constexpr int kQualifierWriteHigh = 0x81; // channels 128..383

// An intensity block: 96 values of two bytes; the four blocks cover every channel once.
inline constexpr int kBlockValues = 96;
inline constexpr int kBlockBytes = 2 * kBlockValues;
inline constexpr std::array<int, 4> kBlockStarts{0, 32, 64, 96};
static_assert(kBlockStarts.size() * kBlockValues == store::kChannelCount);

// The 5-byte frame (0xFF, qualifier, code, argument, 0xF0), one char per byte. Empty when a
// middle byte lies outside 0..255.
std::string make_frame(int qualifier, int code, int argument);

// Serial number of a probe reply: first byte x 255 + second byte (0 when missing); -1 when empty.
int serial_from_reply(std::string_view reply);

// The values of a block reply, parsed pair by pair (high byte first).
struct ParsedBlock {
  std::array<int, kBlockValues> values{};
  int received = 0;          // bytes that arrived
  bool high_clipped = false; // some high byte was above 15 and was clipped to 15
  // Exactly 192 bytes and no clipping: what the acquisition cycle calls a good block.
  bool good() const { return received == kBlockBytes && !high_clipped; }
};

// Parses up to 192 bytes; a missing tail leaves zeros and is visible in `received`.
ParsedBlock parse_block(std::string_view bytes);

// The channel that value `index` (0..95) of the block starting at channel k belongs to:
// k + index / 3 + 128 x (index mod 3).
constexpr int block_channel(int start_channel, int index) {
  return start_channel + index / 3 + 128 * (index % 3);
}

// Writes the 96 values to their channels in `channels` (at least store::kChannelCount slots).
void distribute_block(int start_channel, const std::array<int, kBlockValues>& values,
                      std::span<std::int16_t> channels);

// Temperature in degrees C of a raw sensor reading.
constexpr double temperature_celsius(int raw, double slope, double offset) {
  return raw * slope + offset;
}

// How a block is read: two reads of 96 bytes (acquisition) or one read of 192 (recalibration,
// auto-zero).
enum class BlockRead { TwoHalves, Whole };

// The instrument's command protocol on the connected port (the port number of LinkState).
// Pauses go through the Clock; the write failure message through Dialogs.
class DeviceProtocol {
public:
  DeviceProtocol(SerialIo& io, const LinkState& link, common::Clock& clock,
                 common::Dialogs& dialogs)
      : io_(io), link_(link), clock_(clock), dialogs_(dialogs) {}

  // Sends a frame without reading. 0 when all 5 bytes left, -1 otherwise.
  int DeviceSend(int code, int argument, int qualifier);
  // Sends a frame and reads its one-byte reply, asked for as 2 bytes (a second byte that comes
  // with the reply is read and dropped). The first byte (0..255), or -1.
  int DeviceQuery(int code, int argument, int qualifier);
  // Register a of bank b: up to 3 queries 1 ms apart. The value, or -1.
  int ReadRegister(int address, int bank);
  // Writes gain x 32 + power to one channel through the four-pass acknowledge ladder.
  // 1 when acknowledged; -1 after the "Ops...Data Writing ERROR" message, or at once with
  // nothing sent for a channel outside 0..383, power outside 0..31 or gain outside 0..7.
  int WriteChannelSetting(int channel, int power, int gain);
  // Sets every channel of both halves; each half tried at most twice. 1, or -1 (also, with
  // nothing sent, for power outside 0..31 or gain outside 0..7).
  int SetAllChannels(int gain, int power);
  // Writes value v into instrument register a (128 and above: the factory record) with three
  // passes of 9 tries, a recovery query between passes. 1 when acknowledged; -1 after the
  // "Ops...Data Writing ERROR" message (at once, with nothing sent, for a value outside 0..255).
  int WriteRegister(int address, int value);
  // Flushes, asks for the block at `start_channel` and parses what came.
  ParsedBlock ReadIntensityBlock(int start_channel, BlockRead how = BlockRead::TwoHalves);
  // The raw temperature reading (code 0x21), or -1.
  int ReadTemperatureRaw() { return DeviceQuery(kCodeTemperature, 0, 0); }
  // Light and temperature outputs: s = 4 x light + 2 x heating direction + 1 x power.
  int SetOutputs(int s) { return DeviceSend(kCodeSetOutputs, s, 0); }

private:
  // One pass of 9 write tries; true when the last reply equals the echo.
  bool write_pass(int qualifier, int echo, int setting, int pause_ms);

  SerialIo& io_;
  const LinkState& link_;
  common::Clock& clock_;
  common::Dialogs& dialogs_;
};

} // namespace kestrova::device
