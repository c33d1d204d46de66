#include "app/json_progress_sink.h"

#include <gtest/gtest.h>

#include "protocol/json_writer.h"

namespace qm {
namespace {

TEST(ProgressEvents, AScanReportIsAnIndexingEventWithExactlyItsEightMembersInKeyOrder) {
  const IndexingProgress progress{1234, 5, 6, 130, "/Users/me/Pictures \"2024\""};
  EXPECT_EQ(to_json(indexing_event(4711, progress)),
            R"({"elapsedMs":130,"entries":1234,"errors":5,"event":"progress","path":"/Users/me/Pictures \"2024\"",)"
            R"("phase":"indexing","request":4711,"skipped":6})");
}

TEST(ProgressEvents, AStageReportCarriesItsPhaseAndTotal) {
  for (const char* phase : {"sampling", "hashing"}) {
    const StageProgress progress{phase, 3, 18446744073709551615ull, 0};
    EXPECT_EQ(to_json(stage_event(9, progress)),
              std::string(R"({"elapsedMs":0,"entries":3,"event":"progress","phase":")") + phase +
                  R"(","request":9,"total":18446744073709551615})");
  }
}

}  // namespace
}  // namespace qm
