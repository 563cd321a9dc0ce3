#include "reports/field_relay.hpp"

namespace kestrova::reports {

FieldRelay::FieldRelay(std::size_t batches) {
  for (std::size_t i = 0; i < batches; ++i) {
    batches_.push_back(std::make_unique<FieldBatch>()); // grows when first filled
    free_.push_back(batches_.back().get());
  }
}

FieldBatch* FieldRelay::take_free() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return stopped_ || !free_.empty(); });
  if (stopped_) return nullptr;
  FieldBatch* batch = free_.front();
  free_.pop_front();
  batch->clear();
  return batch;
}

void FieldRelay::hand_over(FieldBatch* batch) {
  update([&] { filled_.push_back(batch); });
}

void FieldRelay::close() {
  update([&] { closed_ = true; });
}

FieldBatch* FieldRelay::take_filled() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return stopped_ || closed_ || !filled_.empty(); });
  if (stopped_ || filled_.empty()) return nullptr;
  FieldBatch* batch = filled_.front();
  filled_.pop_front();
  return batch;
}

void FieldRelay::give_back(FieldBatch* batch) {
  update([&] { free_.push_back(batch); });
}

void FieldRelay::stop() {
  update([&] { stopped_ = true; });
}

} // namespace kestrova::reports
