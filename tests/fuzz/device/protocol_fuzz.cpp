// Feeds arbitrary instrument replies to the command protocol and the connection manager.
// Each frame written is answered by the next piece of the input: one length byte, then up
// to that many bytes. Checks that every outcome stays within its stated range.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "device/connection.hpp"
#include "device/fake_serial.hpp"
#include "device/protocol.hpp"
#include "fuzz/fuzz_support.hpp"

namespace kestrova::fuzz {
namespace {

class NoClock final : public common::Clock {
public:
  common::LocalTime now() override { return {}; }
  common::SteadyTime steady() override { return {}; }
  void sleep_ms(int) override {}
};

class NoDialogs final : public common::Dialogs {
public:
  explicit NoDialogs(std::string_view answer) : answer_(answer) {}
  common::Answer message(std::string_view, common::Buttons, common::Icon,
                         std::string_view) override {
    return common::Answer::Ok;
  }
  std::optional<std::string> input(std::string_view, std::string_view, std::string_view) override {
    return answer_;
  }

private:
  std::string answer_;
};

class NoConfig final : public device::PortConfigWriter {
public:
  bool save_serial_port(int) override { return true; }
};

} // namespace
} // namespace kestrova::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrova;
  using namespace kestrova::fuzz;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t pos = 0;
  testing::FakeSerialIo io;
  io.present = {1, 4, 9};
  io.respond = [&](int, std::string_view) {
    if (pos >= input.size()) return std::string();
    const std::size_t want = static_cast<unsigned char>(input[pos]);
    ++pos;
    const std::size_t n = std::min(want, input.size() - pos);
    std::string reply(input.substr(pos, n));
    pos += n;
    return reply;
  };

  const device::ParsedBlock raw = device::parse_block(input);
  for (int v : raw.values)
    check(v >= 0 && v <= 4095);

  device::LinkState link;
  link.port = 4;
  NoClock clock;
  NoDialogs dialogs(size > 0 ? std::string(1, static_cast<char>('0' + data[0] % 20)) : "");
  common::NullEventPump pump;
  device::NullConnectionStatus status;
  NoConfig config;
  device::DeviceProtocol protocol(io, link, clock, dialogs);
  device::ConnectionManager manager(io, protocol, link, clock, dialogs, pump, status, config);

  const auto outcome = manager.Connect();
  check(link.connected != link.offline);
  check((outcome == device::ConnectOutcome::Connected) == link.connected);
  check(link.temperature_slope >= 0.1 && link.temperature_slope <= 0.45);
  check(link.temperature_offset >= -10.0 && link.temperature_offset <= 10.0);
  if (link.connected) check(link.serial >= 10 && link.serial <= 250 && io.is_open(link.port));

  const int q = protocol.DeviceQuery(device::kCodeTemperature, 0, 0);
  check(q >= -1 && q <= 255);
  const int reg = protocol.ReadRegister(5, 1);
  check(reg >= -1 && reg <= 255);
  const int channel = size > 1 ? data[1] + (size > 2 ? data[2] % 2 : 0) * 128 : 0;
  const int w = protocol.WriteChannelSetting(channel, 3, 2);
  check(w == 1 || w == -1);
  const int all = protocol.SetAllChannels(1, 1);
  check(all == 1 || all == -1);
  for (int k : device::kBlockStarts) {
    const device::ParsedBlock b = protocol.ReadIntensityBlock(
        k, k == 32 ? device::BlockRead::Whole : device::BlockRead::TwoHalves);
    check(b.received >= 0 && b.received <= device::kBlockBytes);
    for (int v : b.values)
      check(v >= 0 && v <= 4095);
  }
  manager.Disconnect();
  return 0;
}
