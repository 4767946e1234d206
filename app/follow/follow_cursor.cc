#include "app/follow/follow_cursor.h"

CFollowCursor::SPlan CFollowCursor::Plan(uint32_t first, uint32_t end) {
  SPlan plan;
  if (first > end) {
    plan.from = next_;
    return plan;
  }
  if (!started_) {
    started_ = true;
    next_ = end - first > tail_ ? end - tail_ : first;
  } else if (end < next_ || first < first_) {
    plan.event = Event::kRestarted;
    plan.lost = next_ < end_ ? end_ - next_ : 0;
    next_ = first;
  } else if (first > first_ && first >= next_ && end - first < end_ - first_) {
    // A full log that drops its oldest entries keeps its length; a
    // shorter one was emptied.
    plan.event = Event::kRestarted;
    plan.lost = first - next_;
    next_ = first;
  } else if (first > next_) {
    plan.event = Event::kDropped;
    plan.lost = first - next_;
    next_ = first;
  }
  first_ = first;
  end_ = end;
  plan.from = next_;
  plan.count = end - next_;
  return plan;
}
