#pragma once

#include <deque>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "device/serial_ports.hpp"

namespace kestrova::testing {

// A SerialIo without devices: every frame written is answered by `respond`, whose bytes wait
// in the input queue until read. A short read empties the queue, as the real driver's flush.
class FakeSerialIo final : public device::SerialIo {
public:
  // Answers a frame written to `port`; the default answers nothing.
  std::function<std::string(int port, std::string_view frame)> respond;
  std::set<int> present; // ports that open

  std::vector<int> opened; // every successful CommOpen, in order
  std::vector<int> closed;
  std::vector<std::pair<int, std::string>> written; // port, bytes
  std::vector<std::pair<int, bool>> lines;          // line, state
  int flushes = 0;

  int CommOpen(int port, std::string_view, std::string_view) override {
    if (open_.count(port)) return -1;
    if (!present.count(port)) return 2;
    open_.insert(port);
    opened.push_back(port);
    return 0;
  }
  int CommClose(int port) override {
    if (open_.erase(port)) closed.push_back(port);
    return 0;
  }
  int CommFlush(int) override {
    ++flushes;
    input_.clear();
    return 0;
  }
  int CommWrite(int port, std::string_view data) override {
    if (!open_.count(port)) return -1;
    written.emplace_back(port, std::string(data));
    if (respond) {
      const std::string reply = respond(port, data);
      input_.insert(input_.end(), reply.begin(), reply.end());
    }
    return static_cast<int>(data.size());
  }
  int CommRead(int port, std::string& data, int count) override {
    data.clear();
    if (!open_.count(port)) return 0;
    while (static_cast<int>(data.size()) < count && !input_.empty()) {
      data.push_back(input_.front());
      input_.pop_front();
    }
    if (static_cast<int>(data.size()) < count) input_.clear();
    return static_cast<int>(data.size());
  }
  int CommSetLine(int port, int line, bool state) override {
    if (!open_.count(port)) return 9;
    lines.emplace_back(line, state);
    return 0;
  }

  bool is_open(int port) const { return open_.count(port) != 0; }
  // Frames written, without the port.
  std::vector<std::string> frames() const {
    std::vector<std::string> out;
    for (const auto& w : written)
      out.push_back(w.second);
    return out;
  }

private:
  std::set<int> open_;
  std::deque<char> input_;
};

// Bytes from a list of values, for expectations on frames and replies.
inline std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values)
    out.push_back(static_cast<char>(v));
  return out;
}

} // namespace kestrova::testing
