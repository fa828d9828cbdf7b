#include "console/error_status.h"

namespace brevlith {

namespace detail {
std::atomic<int> gate_lock{0};
}

namespace {
thread_local ErrorStatus outermost;
thread_local ErrorStatus* current = &outermost;
}  // namespace

ErrorScope::ErrorScope() : previous_(current) { current = &own_; }
ErrorScope::~ErrorScope() { current = previous_; }

ErrorStatus& current_error_status() { return *current; }

void raise_error(uint8_t code, uint32_t host_error) {
  if (code == 0) code = 51;
  *current = {code, host_error};
  if (code >= first_fatal_code) host::exit_process(255);
}

uint8_t error_code_for_host_error(uint32_t e) {
  static constexpr uint8_t low[40] = {
      75,  // 0: not a failure; kept so the index is the value
      75, 53, 76, 67, 70, 51, 241, 7,  241, 241,  // 1..10
      51, 51, 51, 7,  68, 75, 74,  53, 70,  68,   // 11..20
      71, 51, 72, 51, 72, 72, 72,  72, 72,  72,   // 21..30
      72, 70, 70, 72, 72, 70, 75,  62, 61,        // 31..39
  };
  if (e < 40) return low[e];
  if (e == 87) return 5;
  if (e == 112) return 61;
  return 75;
}

}  // namespace brevlith
