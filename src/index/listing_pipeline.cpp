#include "index/listing_pipeline.h"

#include <system_error>

#include "common/thread_pool.h"

namespace qm {

// Hand-offs use atomics with wait/notify: a notify with nobody waiting costs no
// system call, and the scan thread and the workers meet only at a slot's flag.
ListingPipeline::ListingPipeline(std::size_t window)
    : window_(window == 0 ? 1 : window), slots_(std::make_unique<Slot[]>(window_)) {
  // The pool's maps block their caller, so a driver thread makes the call and
  // the scan thread stays free to merge.
  try {
    driver_ = std::thread([this] {
      ThreadPool& pool = process_pool();
      // One long-running item per worker (run inline here if the pool has none).
      pool.for_each_index(pool.size() == 0 ? 1 : pool.size(), [this](std::size_t) { work(); });
    });
  } catch (const std::system_error&) {
    // No thread to spare: take() lists each directory itself, one after another.
  }
}

ListingPipeline::~ListingPipeline() {
  closing_.store(true);
  wake_.fetch_add(1);
  wake_.notify_all();
  if (driver_.joinable()) driver_.join();
}

void ListingPipeline::publish() {
  if (published_.load(std::memory_order_relaxed) == pending_) return;
  published_.store(pending_, std::memory_order_release);
  wake_.fetch_add(1);
  wake_.notify_all();
}

ListingPipeline::Taken ListingPipeline::take() {
  Slot& slot = slots_[taken_ % window_];
  if (!driver_.joinable()) {
    slot.listing = list_directory_compact(slot.path);
    slot.listed.store(true, std::memory_order_relaxed);
  }
  slot.listed.wait(false, std::memory_order_acquire);
  // Reset before the slot can be submitted into again; no worker touches it
  // until then.
  slot.listed.store(false, std::memory_order_relaxed);
  ++taken_;
  return {slot.path, slot.listing};
}

void ListingPipeline::work() {
  for (;;) {
    // Read the wake counter before looking for work, so a publish that comes
    // after the look is never slept through.
    const std::uint32_t wake = wake_.load();
    if (closing_.load()) return;  // what is still queued is not wanted any more
    std::uint64_t next = next_to_list_.load();
    if (next >= published_.load(std::memory_order_acquire)) {
      wake_.wait(wake);
      continue;
    }
    if (!next_to_list_.compare_exchange_weak(next, next + 1)) continue;
    // The slot is this worker's alone until it is marked listed: the scan thread
    // neither reads it before then nor submits into it before taking it back.
    Slot& slot = slots_[next % window_];
    try {
      slot.listing = list_directory_compact(slot.path);
    } catch (...) {
      // Out of memory for this one listing: count the directory as unreadable
      // rather than leave the scan thread waiting for it.
      slot.listing = CompactListing{};
      slot.listing.errors = 1;
    }
    slot.listed.store(true, std::memory_order_release);
    slot.listed.notify_one();
  }
}

}  // namespace qm
