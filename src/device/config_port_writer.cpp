#include "device/config_port_writer.hpp"

#include "store/config.hpp"

namespace kestrova::device {

bool ConfigPortWriter::save_serial_port(int port) {
  state_.config.Serial_COM = port;
  return store::SaveConfig(state_, dialogs_);
}

} // namespace kestrova::device
