// The error status: where a failing service records what went wrong, the
// host-error table, and the system-call gate through which every file,
// directory and standard-output service calls the host.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "console/error_codes.h"
#include "host/host.h"

namespace brevlith {

// The most recent failure of one procedure. `host_error` keeps the raw Win32
// number beside the translated code, for diagnostics; 0 when the failure did
// not come from the host.
struct ErrorStatus {
  uint8_t code = 0;
  uint32_t host_error = 0;
};

// Gives the enclosing procedure an error status of its own for its lifetime;
// failures inside it never touch the caller's status.
class ErrorScope {
 public:
  ErrorScope();
  ~ErrorScope();
  ErrorScope(const ErrorScope&) = delete;
  ErrorScope& operator=(const ErrorScope&) = delete;
  ErrorStatus& status() { return own_; }
  // The recorded status, cleared afterwards.
  ErrorStatus take() { return std::exchange(own_, ErrorStatus{}); }

 private:
  ErrorStatus own_;
  ErrorStatus* previous_;
};

// The status of the innermost ErrorScope (a process-wide one outside all).
ErrorStatus& current_error_status();

// Codes of this value and above end the process at once with exit code 255.
inline constexpr uint8_t first_fatal_code = error_code::damaged_memory;

// Records `code` (0 becomes bad_handle) in the current status; a fatal code ends the
// process with 255 and writes nothing more.
void raise_error(uint8_t code, uint32_t host_error = 0);

// The host-error table: Win32 last-error value -> error code.
uint8_t error_code_for_host_error(uint32_t host_error);

template <class R>
struct GateResult {
  R result;
  uint32_t last_error;  // 0 on success
  uint8_t code;         // from the host-error table; 0 on success
  bool failed() const { return last_error != 0; }
  // Raises the failure's code, if any; returns whether the call failed.
  bool raise() const {
    if (failed()) raise_error(code, last_error);
    return failed();
  }
};

namespace detail {
extern std::atomic<int> gate_lock;
}

// Runs one host call under the process-wide gate lock (one of the four
// locks; files/channels.cpp says why a one-threaded tool has them) with the last-error
// value cleared before and read after it. Failure is decided by the
// last-error value alone; callers that judge by the result do so themselves.
template <class F>
auto run_system_call(F&& call) -> GateResult<decltype(call())> {
  // Left also when the call throws (bad_alloc inside a host call): a lock
  // still held would make the next gate call spin for ever.
  struct Held {
    uint32_t saved;
    Held() {
      while (detail::gate_lock.exchange(-1, std::memory_order_acquire) != 0) {
      }
      saved = host::gate_enter();
    }
    ~Held() {
      host::gate_leave(saved);
      detail::gate_lock.store(0, std::memory_order_release);
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
  };
  const Held held;
  host::set_last_error(0);
  auto result = call();
  const uint32_t last_error = host::get_last_error();
  return {std::move(result), last_error,
          last_error ? error_code_for_host_error(last_error) : uint8_t{0}};
}

}  // namespace brevlith
