// test_repository: a Velto repository for the end-to-end tests whose
// content and failures the test chooses. Served like velto-repo, under the
// object key "velto" on 127.0.0.1:4000, over an in-memory store that starts
// with the keys given and takes what others publish.
//
// Usage: test_repository [--key KEY VALUE]... [--fail OPERATION:KIND]...
//   --key KEY VALUE  publishes VALUE under KEY before serving; both may hold
//                    any bytes but NUL (line breaks, escape sequences)
//   --fail OP:KIND   every call of OP (keys_get or value_get) fails with
//                    KIND: "exception" raises qoc::exception_x with
//                    kExceptionText, "errorcode" raises qoc::errorcode_x
//                    with kFailureCode, "hang" never answers until the
//                    server is stopped
// Prints "test_repository ready" once it answers; runs until SIGINT or
// SIGTERM, then exits with status 0. Status 1 when it cannot serve, 2 for a
// bad command line.
#include "tests/app/test_repository.h"

#include <condition_variable>
#include <iostream>
#include <list>
#include <mutex>
#include <string>

#include "runtime/corba/call.h"
#include "runtime/corba/orb.h"
#include "runtime/error/exception.h"
#include "runtime/pm/pm_module.h"
#include "tools/memory_repository.h"
#include "tools/stop_signals.h"

namespace {

constexpr char kUsage[] =
    "usage: test_repository [--key KEY VALUE]... [--fail OPERATION:KIND]...";
constexpr char kEndpoint[] = "iiop://127.0.0.1:4000";

enum class Failure { kNone, kException, kErrorCode, kHang };

class scripted_repository_t : public memory_repository_t {
 public:
  Failure keys_get_failure = Failure::kNone;
  Failure value_get_failure = Failure::kNone;

  bool value_get(const std::string& key, std::string& value) override {
    Fail(value_get_failure);
    return memory_repository_t::value_get(key, value);
  }
  void keys_get(const std::string& pattern, std::list<std::string>& keys,
                bool flag) override {
    Fail(keys_get_failure);
    memory_repository_t::keys_get(pattern, keys, flag);
  }

  // Ends the calls that hang (with an exception), so that the ORB can shut
  // down; later calls fail at once.
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    wake_.notify_all();
  }

 private:
  void Fail(Failure failure) {
    switch (failure) {
      case Failure::kNone:
        return;
      case Failure::kErrorCode:
        throw qo::errorcode_t(test_repository::kFailureCode);
      case Failure::kHang: {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return released_; });
        break;
      }
      case Failure::kException:
        break;
    }
    throw qo::exception_t(std::string(test_repository::kExceptionText));
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  bool released_ = false;  // guarded by mutex_
};

bool ParseFailure(const std::string& text, scripted_repository_t& repository) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  const std::string operation = text.substr(0, colon);
  const std::string kind = text.substr(colon + 1);
  Failure failure;
  if (kind == "exception") {
    failure = Failure::kException;
  } else if (kind == "errorcode") {
    failure = Failure::kErrorCode;
  } else if (kind == "hang") {
    failure = Failure::kHang;
  } else {
    return false;
  }
  if (operation == "keys_get") {
    repository.keys_get_failure = failure;
  } else if (operation == "value_get") {
    repository.value_get_failure = failure;
  } else {
    return false;
  }
  return true;
}

int Usage(const std::string& why) {
  std::cerr << "test_repository: " << why << "\n" << kUsage << std::endl;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  scripted_repository_t repository;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--key" && i + 2 < argc) {
      repository.publish(argv[i + 1], argv[i + 2]);
      i += 2;
    } else if (option == "--fail" && i + 1 < argc) {
      if (!ParseFailure(argv[++i], repository)) {
        return Usage(std::string("bad failure: ") + argv[i]);
      }
    } else {
      return Usage("bad argument: " + option);
    }
  }

  const sigset_t signals = BlockStopSignals();
  try {
    qo::corba::generic_call([] {
      qo::corba::orb_t::init(kEndpoint, false, 0);
      qo::corba::orb_t::start_instance();
    });
    std::string ior;
    qo::pm::servant_add(&repository, ior, "velto");
  } catch (const std::exception& e) {
    std::cerr << "test_repository: cannot serve on " << kEndpoint << ": "
              << e.what() << std::endl;
    return 1;
  }
  std::cout << "test_repository ready" << std::endl;

  WaitForStopSignal(signals, -1);
  repository.Release();
  try {
    qo::pm::servant_remove(&repository, false);
    qo::corba::generic_call([] { qo::corba::orb_t::destroy(); });
  } catch (const std::exception& e) {
    std::cerr << "test_repository: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
