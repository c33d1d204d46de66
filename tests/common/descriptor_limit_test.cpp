#include "common/descriptor_limit.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace qm {
namespace {

constexpr std::uint64_t kInfinity = UINT64_MAX;

struct LimitCase {
  const char* label;
  std::uint64_t soft;
  std::uint64_t hard;
  std::uint64_t ceiling;
  std::uint64_t expected;
};

TEST(DescriptorLimit, TheSoftLimitRisesTowardTheHardOneUpToTheCeilingAndNeverFalls) {
  const LimitCase cases[] = {
      {"a desktop soft limit rises to the ceiling", 1024, 1048576, 65536, 65536},
      {"macOS: an unlimited hard limit gives the ceiling", 256, kInfinity, 10240, 10240},
      {"a hard limit below the ceiling is the most", 1024, 4096, 65536, 4096},
      {"soft already at the hard limit stays", 1024, 1024, 65536, 1024},
      {"soft above the ceiling is not lowered", 100000, 1048576, 65536, 100000},
      {"an unlimited soft limit stays unlimited", kInfinity, kInfinity, 65536, kInfinity},
  };
  for (const LimitCase& c : cases) {
    EXPECT_EQ(raised_descriptor_limit(c.soft, c.hard, kInfinity, c.ceiling), c.expected) << c.label;
  }
}

}  // namespace
}  // namespace qm
