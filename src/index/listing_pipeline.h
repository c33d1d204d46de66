#pragma once
// Lists directories on the process pool ahead of the merge. The scan submits
// directories in queue order and takes their listings back in the same order,
// so ids follow the merge order exactly; meanwhile the workers keep listing the
// directories after the one being merged, and one slow directory holds back
// only its own listing, not a whole batch.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "fs/dir_listing.h"

namespace qm {

class ListingPipeline {
 public:
  // window: how many directories may be submitted and not yet taken back.
  explicit ListingPipeline(std::size_t window);
  ~ListingPipeline();
  ListingPipeline(const ListingPipeline&) = delete;
  ListingPipeline& operator=(const ListingPipeline&) = delete;

  // True when another directory may be submitted now.
  bool has_room() const { return pending_ - taken_ < window_; }

  // Queues the next directory; fill_path(std::string&) writes its path into the
  // slot's buffer, so path buffers are reused from one lap to the next. Workers
  // see it after the next publish().
  template <class FillPath>
  void submit(FillPath&& fill_path) {
    Slot& slot = slots_[pending_ % window_];
    slot.path.clear();
    fill_path(slot.path);
    ++pending_;
  }
  // Hands everything submitted so far to the workers.
  void publish();

  // Waits for the oldest directory not yet taken (it must have been published)
  // and lends out its path and listing until its slot is submitted into again.
  struct Taken {
    const std::string& path;
    CompactListing& listing;
  };
  Taken take();

 private:
  struct Slot {
    std::string path;
    CompactListing listing;
    std::atomic<bool> listed{false};
  };

  void work();

  std::size_t window_;
  std::unique_ptr<Slot[]> slots_;
  std::uint64_t pending_ = 0;  // submitted by the scan thread, published or not
  std::uint64_t taken_ = 0;    // scan thread only
  std::atomic<std::uint64_t> published_{0};
  std::atomic<std::uint64_t> next_to_list_{0};
  std::atomic<bool> closing_{false};
  std::atomic<std::uint32_t> wake_{0};  // bumped whenever idle workers may have something to do
  std::thread driver_;                  // hands the pool one long-running item per worker
};

}  // namespace qm
