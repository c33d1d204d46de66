#include "common/descriptor_limit.h"

#include <sys/resource.h>

#include <algorithm>

namespace qm {

std::uint64_t raised_descriptor_limit(std::uint64_t soft, std::uint64_t hard, std::uint64_t infinity,
                                      std::uint64_t ceiling) {
  if (soft == infinity) return soft;
  const std::uint64_t allowed = hard == infinity ? ceiling : std::min(hard, ceiling);
  return std::max(soft, allowed);
}

std::uint64_t soft_descriptor_limit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
  return limit.rlim_cur;
}

void raise_descriptor_limit() {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const std::uint64_t wanted = raised_descriptor_limit(limit.rlim_cur, limit.rlim_max, RLIM_INFINITY,
                                                       platform_descriptor_ceiling());
  if (wanted == limit.rlim_cur) return;
  limit.rlim_cur = static_cast<rlim_t>(wanted);
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace qm
