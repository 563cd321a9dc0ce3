#pragma once

// A request to stop long work. Whoever may interrupt (a signal handler, a Stop button) sets it;
// the long loops read it at their next block and then leave every file as it was. Setting and
// reading are lock-free, so a signal handler may set it.

#include <atomic>
#include <functional>

namespace kestrova::common {

class Cancellation {
public:
  void request() noexcept { requested_.store(true, std::memory_order_relaxed); }
  bool requested() const {
    if (on_check_) on_check_();
    return requested_.load(std::memory_order_relaxed);
  }
  // The flag itself, for the writers that poll a plain atomic flag.
  const std::atomic<bool>* flag() const noexcept { return &requested_; }
  // Runs `hook` each time requested() is read, before it reads the flag: a test holds the work
  // at a known check with it. Set before the work starts.
  void on_check(std::function<void()> hook) { on_check_ = std::move(hook); }

private:
  static_assert(std::atomic<bool>::is_always_lock_free);
  std::atomic<bool> requested_{false};
  std::function<void()> on_check_;
};

// True when `cancel` is given and has been requested.
inline bool cancelled(const Cancellation* cancel) {
  return cancel != nullptr && cancel->requested();
}

} // namespace kestrova::common
