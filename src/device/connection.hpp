#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "common/event_pump.hpp"
#include "device/link_state.hpp"
#include "device/protocol.hpp"
#include "device/serial_ports.hpp"

namespace kestrova::device {

// What the connect action shows while it runs. The main window binds it to its controls:
// lbl_autochannel, lbl_autotext, the start screen's LblNews, the frm_autotext frame against
// picturecal, the COM port menu (mncom1 entries 1 to 15) and the switch to the start screen.
class ConnectionStatus {
public:
  virtual ~ConnectionStatus() = default;
  virtual void set_autochannel(std::string_view text) = 0; // lbl_autochannel caption
  virtual void set_autotext(std::string_view text) = 0;    // lbl_autotext caption
  virtual void set_news(std::string_view text) = 0;        // Frm_Init's LblNews caption
  // true: hide picturecal and show frm_autotext; false: hide frm_autotext and show picturecal,
  // lbl_autotext and lbl_autochannel.
  virtual void show_progress(bool shown) = 0;
  // Lets the texts above show now, before the next step blocks.
  virtual void refresh() = 0;
  // Clears the check marks of COM1..COM15 and checks entry `port` (none when outside 1..15).
  virtual void check_com_port(int port) = 0;
  // Shows the start screen Frm_Init and hides the main window (offline outcome).
  virtual void show_start_screen() = 0;
  // The link changed (connected, offline, disconnected, lost, another port chosen).
  virtual void show_link(const LinkState& link) = 0;
};

// A connection view that shows nothing (benchmarks, fuzzers, tools).
class NullConnectionStatus final : public ConnectionStatus {
public:
  void set_autochannel(std::string_view) override {}
  void set_autotext(std::string_view) override {}
  void set_news(std::string_view) override {}
  void show_progress(bool) override {}
  void refresh() override {}
  void check_com_port(int) override {}
  void show_start_screen() override {}
  void show_link(const LinkState&) override {}
};

// Stores a newly chosen serial port in config.dat. The App implements it over the project
// store (it sets Serial_COM in the current-project state and saves config.dat). Returns false
// when saving failed (the store has shown its own message).
class PortConfigWriter {
public:
  virtual ~PortConfigWriter() = default;
  virtual bool save_serial_port(int port) = 0;
};

// How a connect action ended.
enum class ConnectOutcome { Connected, Offline };

// Finds the instrument, keeps its port open and reads its factory record; otherwise puts the
// program offline. Writes the LinkState it is given; everything runs on the caller's thread.
//
// The App owns the pieces and wires them once; at load it sets link.port from config.dat's
// Serial_COM (the port tried first):
//   ConnectionManager link(ports, protocol, link_state, clock, dialogs, pump, status, config);
//   cmd_connect_Click     -> link.Connect();   (then, in autorun, the start-up phase 6)
//   Cmd_disconnect_Click  -> link.Disconnect();
//   mncom1_Click(index)   -> link.ChooseComPort(index);
class ConnectionManager {
public:
  ConnectionManager(SerialIo& io, DeviceProtocol& protocol, LinkState& link, common::Clock& clock,
                    common::Dialogs& dialogs, common::EventPump& pump, ConnectionStatus& status,
                    PortConfigWriter& config)
      : io_(io), protocol_(protocol), link_(link), clock_(clock), dialogs_(dialogs), pump_(pump),
        status_(status), config_(config) {}

  // The connect action: scan, COM menu mark, calibration reset, then either the factory record
  // (connected, port open) or "PORT NOT FOUND" and the start screen (offline, no port open).
  ConnectOutcome Connect();
  // Closes the port and clears the connected flag; nothing happens in offline mode.
  void Disconnect();
  // The COM port menu: marks and stores port `index` (1 to 15); the next Connect tries it first.
  void ChooseComPort(int index);
  // Marks the link lost (the instrument stopped answering while connected) or found again.
  void SetLinkLost(bool lost);
  // While connected and idle: marks the link lost when the port's device has gone (an
  // unplugged cable or adapter). Sends nothing. True while the link looks sound.
  bool CheckLink();

  // Steps of Connect, public for the tests and for tools that need one of them.
  // Probe of an open port: the serial number of the reply, or -1 when nothing came.
  int Probe(int port);
  // Finds the instrument; true when a port holds one and has been left open.
  bool ScanPorts();
  // Reads registers 128..135 into the link state (defaults when the record is not valid).
  void ReadFactoryRecord();

  // Settings text passed to CommOpen.
  static std::string port_settings();
  static bool accepted_serial(int serial) { return serial >= 10 && serial <= 250; }

private:
  void show_opening(int port);
  // Opens the port the operator typed; true when an instrument answers there (left open).
  bool try_typed_port(int port);
  bool open_port(int port);
  int read_factory_register(int address);
  // Closes the port this manager holds open (the connected port), if any.
  void release_port();

  SerialIo& io_;
  DeviceProtocol& protocol_;
  LinkState& link_;
  common::Clock& clock_;
  common::Dialogs& dialogs_;
  common::EventPump& pump_;
  ConnectionStatus& status_;
  PortConfigWriter& config_;
  // The port left open by the last successful connect; 0 when none. The COM menu may change
  // the link's port number meanwhile, so closing goes by this number.
  int held_port_ = 0;
};

// Parses the operator's answer to the port box: a whole number after trimming blanks, else
// std::nullopt.
std::optional<int> parse_port_answer(std::string_view answer);

} // namespace kestrova::device
