#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "device/connection.hpp"

namespace kestrova::testing {

// Records what the main window would show.
class RecordingStatus final : public device::ConnectionStatus {
public:
  void set_autochannel(std::string_view t) override { autochannel.emplace_back(t); }
  void set_autotext(std::string_view t) override { autotext.emplace_back(t); }
  void set_news(std::string_view t) override { news.emplace_back(t); }
  void show_progress(bool shown) override { progress.push_back(shown); }
  void refresh() override { ++repaints; }
  void check_com_port(int port) override { checked = port; }
  void show_start_screen() override { ++start_screens; }
  void show_link(const device::LinkState& link) override { links.push_back(link); }

  std::vector<std::string> autochannel, autotext, news;
  std::vector<bool> progress;
  int repaints = 0;
  int checked = -1;
  int start_screens = 0;
  std::vector<device::LinkState> links;

  std::vector<std::string> opening_texts() const {
    std::vector<std::string> out;
    for (const auto& t : autochannel)
      if (t.rfind("Opening Port [", 0) == 0) out.push_back(t);
    return out;
  }
};

class RecordingConfig final : public device::PortConfigWriter {
public:
  bool save_serial_port(int port) override {
    saved.push_back(port);
    return true;
  }
  std::vector<int> saved;
};

} // namespace kestrova::testing
