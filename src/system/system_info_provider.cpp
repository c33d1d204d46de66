#include <cerrno>
#include <ctime>

#include "system/system_info_provider.h"

namespace qm {

void SystemInfoProvider::pause(std::chrono::nanoseconds duration) {
  if (duration.count() <= 0) return;
  timespec remaining{};
  remaining.tv_sec = static_cast<time_t>(duration.count() / 1'000'000'000);
  remaining.tv_nsec = static_cast<long>(duration.count() % 1'000'000'000);
  // nanosleep leaves the time still to wait in remaining when a signal cuts it short.
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace qm
