#pragma once

#include "common/dialogs.hpp"
#include "device/connection.hpp"
#include "store/project_state.hpp"

namespace kestrova::device {

// Stores the chosen port as Serial_COM of the current-project state and saves config.dat.
class ConfigPortWriter final : public PortConfigWriter {
public:
  ConfigPortWriter(store::ProjectState& state, common::Dialogs& dialogs)
      : state_(state), dialogs_(dialogs) {}
  bool save_serial_port(int port) override;

private:
  store::ProjectState& state_;
  common::Dialogs& dialogs_;
};

} // namespace kestrova::device
