#include "channel/reception.h"

#include <algorithm>
#include <cstring>

namespace pesolan {
namespace {

// A scale's clock may run a few percent fast.
constexpr uint64_t kFastClockPercent = 105;
// What may be on its way when a flow of old bytes has been caught up with:
// a character half across the wire and one behind it.
constexpr uint32_t kAfterFlow = 4;

}  // namespace

void Pace::Start(uint64_t nowUs, uint32_t charUs, uint32_t allowance, bool afterLine) {
  afterLine_ = afterLine;
  baseUs_ = nowUs;
  charUs_ = charUs > 0 ? charUs : 1042;
  allowance_ = allowance;
  baseCount_ = taken_ = known_ = oldBelow_ = 0;
  behind_ = false;
}

void Pace::Observe(uint32_t waiting, uint64_t nowUs) {
  const uint32_t came = taken_ + waiting;
  const bool arrived = came > known_;
  known_ = std::max(known_, came);
  if (!behind_) {
    const uint64_t elapsed = nowUs > baseUs_ ? nowUs - baseUs_ : 0;
    const uint64_t carried = elapsed * kFastClockPercent / 100 / charUs_ + allowance_;
    behind_ = known_ - baseCount_ > carried;
  }
  if (behind_ && arrived) {  // the flow goes on: all of it so far is old
    oldBelow_ = known_;
    baseUs_ = nowUs;
    baseCount_ = known_;
    allowance_ = std::min(allowance_, kAfterFlow);
  }
  if (waiting == 0) behind_ = false;
}

ByteOrigin Pace::Take() {
  ByteOrigin origin;
  origin.sequence = taken_++;
  known_ = std::max(known_, taken_);
  Judge(&origin);
  return origin;
}

void Pace::Judge(ByteOrigin* origin) const {
  origin->lineStart = afterLine_ && origin->sequence == 0;
  origin->old = origin->sequence < oldBelow_;
  origin->behind = known_ > origin->sequence ? known_ - origin->sequence - 1 : 0;
}

void Arrivals::Note(uint32_t known, uint32_t tick) {
  Arrival* last = held_ > 0 ? &ring_[(first_ + held_ - 1) % kHeld] : nullptr;
  if (last != nullptr && known <= last->end) return;
  if (held_ == kHeld) {
    last->end = known;
    return;
  }
  ring_[(first_ + held_++) % kHeld] = {known, tick, ++numbered_};
}

bool Arrivals::Of(uint32_t sequence, uint32_t* number, uint32_t* tick) {
  while (held_ > 0 && ring_[first_].end <= sequence) {
    first_ = (first_ + 1) % kHeld;
    --held_;
  }
  if (held_ == 0) return false;
  *number = ring_[first_].number;
  *tick = ring_[first_].tick;
  return true;
}

int Intake::Add(const uint8_t* arrival, int size) {
  if (size <= 0) return 0;
  int dropped = 0;
  if (size > kIntakeSize) {
    dropped = count - taken + size - kIntakeSize;
    arrival += size - kIntakeSize;
    size = kIntakeSize;
    clear();
  } else if (held() + size > kIntakeSize) {
    dropped = held() + size - kIntakeSize;
    taken += dropped;
  }
  if (count + size > kIntakeSize) {  // move what is held to the front
    std::memmove(bytes, bytes + taken, static_cast<size_t>(held()));
    count = held();
    taken = 0;
  }
  std::memcpy(bytes + count, arrival, static_cast<size_t>(size));
  count += size;
  return dropped;
}

}  // namespace pesolan
