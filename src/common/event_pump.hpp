#pragma once

namespace kestrova::common {

// Lets pending window events (timer ticks, clicks) run inside a long action.
class EventPump {
public:
  virtual ~EventPump() = default;
  virtual void process_events() = 0;
  // Blocks until at least one event was handled (a timer tick, a click), then runs it. Code
  // without windows has nothing to wait for and just runs what is pending.
  virtual void wait_for_events() { process_events(); }
};

// An event pump for code that runs without windows (command-line tools, tests).
class NullEventPump final : public EventPump {
public:
  void process_events() override {}
};

} // namespace kestrova::common
