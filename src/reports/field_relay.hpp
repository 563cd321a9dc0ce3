#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::reports {

// A run of classified CSV fields, passed from the thread that splits the text to the thread
// that writes the worksheet. A field is kept as a place in the CSV text when it lies there
// and otherwise as a copy in `spill` (fields unquoted from pieces, rewritten numbers).
struct FieldBatch {
  enum class Kind : std::uint8_t { Empty, Number, Text, RowEnd };
  struct Item {
    std::size_t begin = 0;
    std::size_t size = 0;
    Kind kind = Kind::Empty;
    bool spilled = false;
  };

  // A batch is handed on once it holds this many items or spilled bytes.
  static constexpr std::size_t kItems = 16384;
  static constexpr std::size_t kSpill = 1 << 20;

  std::vector<Item> items;
  std::string spill;

  bool full() const { return items.size() >= kItems || spill.size() >= kSpill; }
  void clear() {
    items.clear();
    spill.clear();
  }

  // Adds a field; `text` is the whole CSV text `value` may lie in.
  void add(Kind kind, std::string_view value, std::string_view text) {
    const auto at = reinterpret_cast<std::uintptr_t>(value.data());
    const auto start = reinterpret_cast<std::uintptr_t>(text.data());
    if (at >= start && at - start <= text.size() && value.size() <= text.size() - (at - start)) {
      items.push_back({at - start, value.size(), kind, false});
    } else {
      items.push_back({spill.size(), value.size(), kind, true});
      spill.append(value);
    }
  }
  void add_row_end() { items.push_back({0, 0, Kind::RowEnd, false}); }
  // The bytes of `item`.
  std::string_view value(const Item& item, std::string_view text) const {
    return item.spilled ? std::string_view(spill).substr(item.begin, item.size)
                        : text.substr(item.begin, item.size);
  }
};

// A fixed set of batches moving between one producer and one consumer. Memory stays bounded:
// the producer waits for a batch to come back when all are in use. Either side can stop the
// other: after `stop`, `take_free` and `take_filled` return null at once.
class FieldRelay {
public:
  // The default gives each side some tens of milliseconds of slack, so a thread held up for a
  // while (by the scheduler or the disk) does not stall the other; about 13 MB when all are full.
  explicit FieldRelay(std::size_t batches = 32);

  // Producer: an empty batch, or null once stopped.
  FieldBatch* take_free();
  // Producer: passes a filled batch on.
  void hand_over(FieldBatch* batch);
  // Producer: no more batches will come; the consumer still gets those handed over.
  void close();

  // Consumer: the next filled batch, or null at the end or once stopped.
  FieldBatch* take_filled();
  // Consumer: returns a batch for reuse.
  void give_back(FieldBatch* batch);

  // Either side: ends the exchange without waiting for the batches on their way.
  void stop();

private:
  // Changes the shared state under the lock and wakes the other side.
  template <class Change> void update(Change change) {
    {
      const std::lock_guard lock(mutex_);
      change();
    }
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<FieldBatch>> batches_;
  std::deque<FieldBatch*> free_;
  std::deque<FieldBatch*> filled_;
  bool closed_ = false;
  bool stopped_ = false;
};

} // namespace kestrova::reports
