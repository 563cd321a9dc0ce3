#pragma once

// A virtual instrument served on a pty, reachable as DATA/ports/COM1, and the real serial
// driver and protocol on top of it: what the device benchmarks measure.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "device/link_state.hpp"
#include "device/protocol.hpp"
#include "device/serial_ports.hpp"
#include "sim/pty_server.hpp"

namespace kestrova::bench {

// Answers every box with OK and no text, showing nothing.
class QuietDialogs final : public common::Dialogs {
public:
  common::Answer message(std::string_view, common::Buttons, common::Icon,
                         std::string_view) override {
    return common::Answer::Ok;
  }
  std::optional<std::string> input(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }
};

// One served instrument on port 1; `open` leaves the port open as a connect action would.
struct SimRig {
  explicit SimRig(sim::Pacing pacing, bool open = true) {
    data =
        std::filesystem::temp_directory_path() / ("kestrova-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(data);
    sim::InstrumentOptions opt;
    opt.pacing = pacing;
    server = std::make_unique<sim::PtyServer>(opt);
    std::string error;
    if (!server->start(&error) || !server->link(data / "ports" / "COM1", &error))
      std::fprintf(stderr, "instrument: %s\n", error.c_str());
    ports = std::make_unique<device::SerialPorts>(device::PortMap(data, {}), clock);
    link.port = 1;
    opened = !open || ports->CommOpen(1, "COM1", device::kLineSettings) == 0;
    protocol = std::make_unique<device::DeviceProtocol>(*ports, link, clock, dialogs);
  }
  ~SimRig() {
    protocol.reset();
    ports.reset();
    server.reset();
    std::error_code ec;
    std::filesystem::remove_all(data, ec);
  }
  SimRig(const SimRig&) = delete;
  SimRig& operator=(const SimRig&) = delete;

  std::filesystem::path data;
  std::unique_ptr<sim::PtyServer> server;
  device::LinkState link;
  common::SystemClock clock;
  QuietDialogs dialogs;
  std::unique_ptr<device::SerialPorts> ports;
  std::unique_ptr<device::DeviceProtocol> protocol;
  bool opened = false;
};

} // namespace kestrova::bench
