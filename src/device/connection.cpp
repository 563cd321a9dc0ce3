#include "device/connection.hpp"

#include <array>
#include <charconv>
#include <exception>

namespace kestrova::device {

namespace {

constexpr int kLastScannedPort = 15;

} // namespace

std::optional<int> parse_port_answer(std::string_view answer) {
  const auto first = answer.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return std::nullopt;
  const auto last = answer.find_last_not_of(" \t\r\n");
  answer = answer.substr(first, last - first + 1);
  int value = 0;
  const auto [end, ec] = std::from_chars(answer.data(), answer.data() + answer.size(), value);
  if (ec != std::errc() || end != answer.data() + answer.size()) return std::nullopt;
  return value;
}

std::string ConnectionManager::port_settings() { return std::string(kLineSettings); }

bool ConnectionManager::open_port(int port) {
  return io_.CommOpen(port, "COM" + std::to_string(port), port_settings()) == 0;
}

void ConnectionManager::show_opening(int port) {
  status_.set_autochannel("Opening Port [" + std::to_string(port) + "]");
  status_.refresh();
  pump_.process_events();
  clock_.sleep_ms(100);
}

int ConnectionManager::Probe(int port) {
  io_.CommSetLine(port, 3, true);
  io_.CommSetLine(port, 2, true);
  int serial = -1;
  const std::string frame = make_frame(0, kCodeProbe, 0);
  if (io_.CommWrite(port, frame) == static_cast<int>(frame.size())) {
    clock_.sleep_ms(5);
    std::string reply;
    io_.CommRead(port, reply, 2);
    serial = serial_from_reply(reply);
  }
  io_.CommSetLine(port, 3, false);
  io_.CommSetLine(port, 2, false);
  return serial;
}

bool ConnectionManager::try_typed_port(int port) {
  link_.port = static_cast<std::int16_t>(port);
  if (!open_port(port)) {
    dialogs_.message("Invalid Port Number. Offline Mode", common::Buttons::Ok,
                     common::Icon::Warning);
    link_.offline = true;
    return false;
  }
  config_.save_serial_port(port);
  // The typed port is probed like a scanned one and kept open when the instrument answers;
  // otherwise the action ends offline instead of "connected" with no port open.
  for (int attempt = 0; attempt < 2; ++attempt) {
    clock_.sleep_ms(10);
    const int serial = Probe(port);
    if (accepted_serial(serial)) {
      link_.serial = static_cast<std::int16_t>(serial);
      link_.offline = false;
      held_port_ = port;
      return true;
    }
  }
  io_.CommClose(port);
  link_.serial = 0;
  link_.offline = true;
  return false;
}

bool ConnectionManager::ScanPorts() {
  try {
    bool accepted = false;
    show_opening(link_.port);
    if (open_port(link_.port)) {
      const int serial = Probe(link_.port);
      if (accepted_serial(serial)) {
        accepted = true;
        link_.serial = static_cast<std::int16_t>(serial);
      }
      io_.CommClose(link_.port);
    }
    if (!accepted) {
      link_.port = 0;
      link_.serial = 0;
    }
    while (!accepted && link_.port < kLastScannedPort) {
      ++link_.port;
      const int port = link_.port;
      show_opening(port);
      if (!open_port(port)) continue;
      for (int attempt = 0; attempt < 2 && !accepted; ++attempt) {
        clock_.sleep_ms(10);
        const int serial = Probe(port);
        if (accepted_serial(serial)) {
          accepted = true;
          link_.serial = static_cast<std::int16_t>(serial);
        }
      }
      if (accepted) {
        status_.set_news("Status = Connected on COM[ " + std::to_string(port) + " ]");
        status_.refresh();
        status_.set_autochannel("Connected on COM[ " + std::to_string(port) + " ]");
      }
      io_.CommClose(port);
    }
    if (accepted) {
      link_.offline = false;
      if (open_port(link_.port)) {
        held_port_ = link_.port;
        return true;
      }
      link_.serial = 0;
      link_.offline = true; // the instrument answered but its port no longer opens
      return false;
    }
    const auto answer =
        dialogs_.input("COM(" + std::to_string(link_.port) +
                       ") PORT ERROR. Type New Port number or <Enter> to go Offline");
    const auto typed = answer ? parse_port_answer(*answer) : std::nullopt;
    if (!typed || *typed < 1 || *typed > kLastScannedPort) {
      link_.offline = true;
      return false;
    }
    return try_typed_port(*typed);
  } catch (const std::exception&) {
    link_.offline = true;
    return false;
  }
}

int ConnectionManager::read_factory_register(int address) {
  // The 200 ms pauses give a late or stray reply time to arrive and be drained; a read that
  // was answered in full leaves nothing on the line, so the next read follows at once (the
  // scan sends its block reads back to back too).
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int first = protocol_.ReadRegister(address, 0);
    if (first < 0) {
      clock_.sleep_ms(200);
      io_.CommWrite(link_.port, make_frame(0, kCodeProbe, 0));
      clock_.sleep_ms(200);
      continue;
    }
    const int second = protocol_.ReadRegister(address, 0);
    if (first == second) return first;
    clock_.sleep_ms(200);
  }
  return -1;
}

void ConnectionManager::ReadFactoryRecord() {
  const auto use_defaults = [this] {
    link_.factory_valid = false;
    link_.temperature_offset = kDefaultTemperatureOffset;
    link_.temperature_slope = kDefaultTemperatureSlope;
  };
  try {
    for (int i = 0; i < 10; ++i)
      pump_.process_events();
    io_.CommFlush(link_.port);
    for (int i = 0; i < 10; ++i)
      pump_.process_events();

    std::array<int, 8> reg{};
    for (int i = 0; i < 8; ++i)
      reg[i] = read_factory_register(128 + i);

    bool valid = reg[0] == 0;
    if (reg[1] >= 1 && reg[1] <= 12)
      link_.cal_month = static_cast<std::int16_t>(reg[1]);
    else
      valid = false;
    if (reg[2] >= 0 && reg[2] <= 99)
      link_.cal_year = static_cast<std::int16_t>(reg[2]);
    else
      valid = false;
    const bool sign_ok = reg[3] == 0 || reg[3] == 1;
    if (sign_ok)
      link_.offset_sign = static_cast<std::int16_t>(reg[3]);
    else
      valid = false;
    const bool offset_ok = reg[4] >= 0;
    const bool slope_ok = reg[5] >= 1 && reg[6] >= 0;
    if (!offset_ok || !slope_ok) valid = false;

    double offset = kDefaultTemperatureOffset;
    if (offset_ok) offset = (sign_ok && reg[3] == 1 ? -1.0 : 1.0) * reg[4] / 10.0;
    if (offset < -10.0 || offset > 10.0) {
      offset = kDefaultTemperatureOffset;
      valid = false;
    }
    double slope = kDefaultTemperatureSlope;
    if (slope_ok) slope = (reg[6] * 256 + reg[5]) / 1000.0;
    if (slope < 0.1 || slope > 0.45) {
      slope = kDefaultTemperatureSlope;
      valid = false;
    }
    if (!valid) {
      use_defaults();
      return;
    }
    link_.factory_valid = true;
    link_.temperature_offset = offset;
    link_.temperature_slope = slope;
  } catch (const std::exception&) {
    use_defaults();
  }
}

ConnectOutcome ConnectionManager::Connect() {
  // A port left open by an earlier connect would refuse the scan's own open ("Port in use").
  if (link_.connected || held_port_ != 0) {
    release_port();
    link_.connected = false;
  }
  status_.set_autochannel("STARTING.....");
  status_.set_autotext("CONNECTING:");
  status_.show_progress(true);
  status_.refresh();

  ScanPorts();
  status_.check_com_port(link_.port);
  link_.temperature_offset = kDefaultTemperatureOffset;
  link_.temperature_slope = kDefaultTemperatureSlope;

  const bool offline = link_.offline;
  if (offline) {
    status_.set_autochannel("Equipment not found");
    dialogs_.message("PORT NOT FOUND", common::Buttons::Ok, common::Icon::Warning);
    status_.show_start_screen();
  } else {
    status_.set_autochannel("Reading Factory Calibration...");
    link_.connected = true;
    ReadFactoryRecord();
  }
  link_.lost = false;
  status_.show_progress(false);
  status_.set_autotext("");
  status_.set_autochannel("");
  status_.show_link(link_);
  return offline ? ConnectOutcome::Offline : ConnectOutcome::Connected;
}

void ConnectionManager::release_port() {
  io_.CommClose(held_port_ != 0 ? held_port_ : link_.port);
  held_port_ = 0;
}

void ConnectionManager::Disconnect() {
  if (link_.offline) return;
  release_port();
  link_.connected = false;
  link_.lost = false;
  status_.show_link(link_);
}

void ConnectionManager::SetLinkLost(bool lost) {
  if (link_.lost == lost) return;
  link_.lost = lost;
  status_.show_link(link_);
}

bool ConnectionManager::CheckLink() {
  if (!link_.connected || held_port_ == 0) return true;
  const bool alive = io_.CommAlive(held_port_);
  if (!alive) SetLinkLost(true);
  return alive;
}

void ConnectionManager::ChooseComPort(int index) {
  if (index < 1 || index > kLastScannedPort) return;
  status_.check_com_port(index);
  link_.port = static_cast<std::int16_t>(index);
  config_.save_serial_port(index);
  status_.show_link(link_);
}

} // namespace kestrova::device
