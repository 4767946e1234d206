// The owner flag servants inherit (as a virtual base) to learn whether they
// must delete the implementation object they serve when they are destroyed.
// Servants start as non-owners; orb_t::servant_remove sets the flag just
// before the POA lets go of the servant. Safe to set and read from any
// thread.
#ifndef QO_RUNTIME_CORBA_IMP_OWNER_CONTROL_H_
#define QO_RUNTIME_CORBA_IMP_OWNER_CONTROL_H_

#include <atomic>

namespace qo::corba {

class imp_owner_control {
 public:
  explicit imp_owner_control(bool owner = false) : owner_(owner) {}
  virtual ~imp_owner_control() = default;
  imp_owner_control(const imp_owner_control&) = delete;
  imp_owner_control& operator=(const imp_owner_control&) = delete;

  // True when the servant's destructor must delete its implementation.
  bool imp_owner() const { return owner_.load(); }
  void set_imp_owner(bool owner) { owner_.store(owner); }

 private:
  std::atomic<bool> owner_;
};

}  // namespace qo::corba

#endif  // QO_RUNTIME_CORBA_IMP_OWNER_CONTROL_H_
