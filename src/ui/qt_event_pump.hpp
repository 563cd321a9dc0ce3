#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include "common/event_pump.hpp"

namespace kestrova::ui {

// Lets queued window events (timer ticks, clicks, repaints) run.
class QtEventPump final : public common::EventPump {
public:
  void process_events() override { QCoreApplication::processEvents(); }
  void wait_for_events() override {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
};

} // namespace kestrova::ui
