#pragma once

// A long operation written as straight-line code that hands the window thread back while it
// waits: a coroutine that `co_await StepJob::Pause{ms}` to ask for `ms` of quiet before it goes
// on. A timer drives it: resume() runs it up to its next pause (or its end), and the pause asked
// for becomes the timer's next interval. Destroying the job stops it where it waits.

#include <coroutine>
#include <exception>
#include <utility>

namespace kestrova::common {

class StepJob {
public:
  struct promise_type {
    int pause_ms = 0;
    StepJob get_return_object() {
      return StepJob(std::coroutine_handle<promise_type>::from_promise(*this));
    }
    std::suspend_always initial_suspend() noexcept { return {}; }
    std::suspend_always final_suspend() noexcept { return {}; }
    void return_void() {}
    void unhandled_exception() { std::terminate(); }
  };

  // The wait a job asks for before its next step.
  struct Pause {
    int ms = 0;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<promise_type> h) const noexcept {
      h.promise().pause_ms = ms < 0 ? 0 : ms;
    }
    void await_resume() const noexcept {}
  };

  StepJob() = default;
  StepJob(StepJob&& other) noexcept : handle_(std::exchange(other.handle_, {})) {}
  StepJob& operator=(StepJob&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, {});
    }
    return *this;
  }
  StepJob(const StepJob&) = delete;
  StepJob& operator=(const StepJob&) = delete;
  ~StepJob() { reset(); }

  // True while the job has steps left.
  bool running() const { return handle_ && !handle_.done(); }
  // Runs the job to its next pause; false once it has ended (or there is none).
  bool resume() {
    if (!running()) return false;
    handle_.promise().pause_ms = 0;
    handle_.resume();
    return running();
  }
  // The pause the job asked for at its last step.
  int pause_ms() const { return running() ? handle_.promise().pause_ms : 0; }
  // Drops the job where it stands.
  void reset() {
    if (handle_) handle_.destroy();
    handle_ = {};
  }

private:
  explicit StepJob(std::coroutine_handle<promise_type> h) : handle_(h) {}
  std::coroutine_handle<promise_type> handle_;
};

} // namespace kestrova::common
