#pragma once
// How long-running work reports progress: the work calls a sink it was given
// (the scan after merging a directory, a hashing stage as its files finish)
// and never writes output itself. The engine's sink writes event lines; tests
// record the calls; another front end can show them any way it likes.
#include <chrono>
#include <cstdint>
#include <string_view>

namespace qm {

// Least time between two progress reports of one scan or one hashing stage.
inline constexpr std::chrono::milliseconds kProgressSpacing{120};

// The scan, after a merged directory.
struct IndexingProgress {
  std::uint64_t entries = 0;  // objects seen so far
  std::uint64_t errors = 0;
  std::uint64_t skipped = 0;
  std::uint64_t elapsed_ms = 0;  // since the scan started
  std::string_view path;         // the directory just merged, as text
};

// A hashing stage ("sampling" or "hashing") of the duplicate finder.
struct StageProgress {
  std::string_view phase;
  std::uint64_t entries = 0;  // files done, failed ones included
  std::uint64_t total = 0;
  std::uint64_t elapsed_ms = 0;  // since the command started
};

// Calls of one command never overlap (the work serialises them), but they may
// come from any thread, so a sink needs no lock of its own for them.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void indexing(const IndexingProgress& progress) = 0;
  virtual void stage(const StageProgress& progress) = 0;
};

// A sink that drops every report.
class NoProgress final : public ProgressSink {
 public:
  void indexing(const IndexingProgress&) override {}
  void stage(const StageProgress&) override {}
};

}  // namespace qm
