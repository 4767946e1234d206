#include "app/fetch/ordered_output.h"

#include <optional>
#include <ostream>

#include "app/progress.h"

COrderedOutput::COrderedOutput(CListener* listener, std::ostream& diagnostics,
                               size_t units, CProgress* progress)
    : listener_(listener), diagnostics_(diagnostics), progress_(progress) {
  qo::pproc::plain_lock_t guard(lock_);
  pending_.resize(units);
}

void COrderedOutput::Line(size_t unit, const std::string& text) {
  Add(unit, false, text);
}

void COrderedOutput::Reason(size_t unit, const std::string& text) {
  Add(unit, true, text);
}

void COrderedOutput::Add(size_t unit, bool reason, const std::string& text) {
  qo::pproc::plain_lock_t guard(lock_);
  Message message{reason, text};
  if (unit == head_) {
    Print(message);
  } else {
    pending_[unit].messages.push_back(std::move(message));
  }
}

void COrderedOutput::Finish(size_t unit) {
  qo::pproc::plain_lock_t guard(lock_);
  pending_[unit].finished = true;
  // Hand the head on past every finished unit, printing what each of the
  // following units has gathered while it waited.
  while (head_ < pending_.size() && pending_[head_].finished) {
    ++head_;
    if (head_ == pending_.size()) break;
    for (const Message& message : pending_[head_].messages) Print(message);
    pending_[head_].messages.clear();
    pending_[head_].messages.shrink_to_fit();
  }
}

void COrderedOutput::Print(const Message& message) {
  std::optional<CProgress::CHold> hold;
  if (progress_ != nullptr) hold.emplace(*progress_);
  if (message.reason) {
    diagnostics_ << message.text << std::endl;
  } else {
    listener_->OnMessage(message.text);
  }
}
