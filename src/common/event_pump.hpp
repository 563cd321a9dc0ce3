#pragma once

namespace kestrova::common {

// Lets pending window events (timer ticks, clicks) run inside a long action.
class EventPump {
 public:
  virtual ~EventPump() = default;
  virtual void process_events() = 0;
};

// An event pump for code that runs without windows (command-line tools, tests).
class NullEventPump final : public EventPump {
 public:
  void process_events() override {}
};

}  // namespace kestrova::common
