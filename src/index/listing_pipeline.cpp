#include "index/listing_pipeline.h"

#include <algorithm>

#include "common/thread_pool.h"

namespace qm {

namespace {

// Descriptors open during a walk besides the listed parents, at most: the
// directories in the window, each worker's ancestors and the shared ones, and
// room for the engine's own (standard streams, the directory at the top).
std::size_t descriptors_besides_parents(std::size_t window) {
  constexpr std::size_t kEngineOwn = 64;
  const std::size_t workers = std::max<std::size_t>(process_pool().size(), 1);
  return window + workers * ListingPipeline::kHeldPerWorker + ListingPipeline::kHeldShared + kEngineOwn;
}

}  // namespace

// Hand-offs use atomics with wait/notify: a notify with nobody waiting costs no
// system call. Workers meet at a slot's reading lock only while they share one
// huge directory, and at the merge only through merge_requests_.
ListingPipeline::ListingPipeline(ListingMerger& merger, const DirectoryReader& reader, int top, std::size_t window,
                                 std::size_t parts_ahead, std::size_t parents_held)
    : merger_(merger),
      reader_(reader),
      top_(top),
      window_(window == 0 ? 1 : window),
      parts_ahead_(static_cast<std::uint32_t>(std::clamp<std::size_t>(parts_ahead, 1, 1024))),
      slots_(std::make_unique<Slot[]>(window_)),
      parents_(listed_parents_capacity(parents_held, descriptors_besides_parents(window_))) {
  for (std::size_t i = 0; i < window_; ++i) slots_[i].parts = std::make_unique<Part[]>(parts_ahead_);
}

ListingPipeline::~ListingPipeline() = default;

bool ListingPipeline::run() {
  fill_slots();
  if (pending_ == 0) return true;
  ThreadPool& pool = process_pool();
  // One long-running item per worker; with no workers the caller does it all.
  pool.for_each_index(pool.size() == 0 ? 1 : pool.size(), [this](std::size_t) { work(); });
  if (failure_) std::rethrow_exception(failure_);
  return !stopped_by_merger_;
}

void ListingPipeline::wake_workers() {
  wake_.fetch_add(1);
  wake_.notify_all();
}

void ListingPipeline::stop_workers() {
  stopping_.store(true);
  wake_workers();
}

void ListingPipeline::fail(std::exception_ptr error) {
  {
    const std::lock_guard lock(failure_lock_);
    if (!failure_) failure_ = std::move(error);
  }
  stop_workers();
}

void ListingPipeline::work() {
  try {
    work_until_stopped();
  } catch (...) {
    // Out of memory: the walk cannot go on without what this worker was
    // doing (a listing left out would leave the index silently short), so
    // every worker stops and the caller reports it.
    fail(std::current_exception());
  }
}

void ListingPipeline::work_until_stopped() {
  RawPart raw;  // this worker's read buffer for every directory it reads
  // The directories above the ones this worker opens, kept while its next
  // directories are below them: queued directories come in breadth-first
  // order, so siblings and cousins follow one another.
  DirectoryCursor cursor(top_, kHeldPerWorker, &held_shared_);
  for (;;) {
    // Read the wake counter before looking for work, so news that comes
    // after the look is never slept through.
    const std::uint32_t wake = wake_.load();
    if (stopping_.load()) return;
    if (help_shared_directory(raw)) continue;
    std::uint64_t next = next_to_list_.load();
    if (next >= published_.load(std::memory_order_acquire)) {
      wake_.wait(wake);
      continue;
    }
    if (!next_to_list_.compare_exchange_weak(next, next + 1)) continue;
    start_directory(next, raw, cursor);
  }
}

void ListingPipeline::finish_part(Part& part, PartState state) {
  part.state.store(state, std::memory_order_release);
  request_merge();
}

void ListingPipeline::start_directory(std::uint64_t number, RawPart& raw, DirectoryCursor& cursor) {
  Slot& slot = slots_[number % window_];
  bool opened = false;
  {
    const std::lock_guard lock(slot.reading);
    slot.number = number;
    slot.shared = false;
    slot.parts_read = 0;
    // Opened from its parent's descriptor while the merge holds that, else
    // name by name from the top through what was listed: a directory swapped
    // for a link (or for another directory) since is not entered. The
    // directory itself is checked against its listing with its first part,
    // before anything of it is looked at (read_parts).
    const std::size_t depth = slot.steps.size();
    const auto parent = depth >= 2 ? parents_.find(slot.steps[depth - 2].key) : nullptr;
    UniqueFd fd = parent ? UniqueFd(open_directory_at(parent->descriptor(), slot.steps.back().name))
                         : cursor.open(slot.steps, false);
    slot.directory = fd.get() < 0 ? nullptr : reader_.adopt(std::move(fd), slot.path);
    opened = slot.directory != nullptr;
    if (opened) slot.finished = false;
  }
  if (opened) {
    read_parts(number, raw);
    return;
  }
  Part& first = slot.parts[0];
  first.listing.errors = 1;  // cannot be opened: one error, no entries
  finish_part(first, kLast);
}

std::size_t ListingPipeline::read_parts(std::uint64_t number, RawPart& raw) {
  Slot& slot = slots_[number % window_];
  std::size_t done = 0;
  for (;;) {
    Part* part;
    const OpenDirectory* directory;
    bool last = false;
    {
      const std::lock_guard lock(slot.reading);
      if (slot.number != number || slot.finished) return done;
      const std::uint32_t sequence = slot.parts_read;
      if (sequence - slot.parts_merged.load() >= parts_ahead_) {
        // Every part is in use: whoever merges the next one wakes the readers
        // (looking again after asking, so a merge in between is not missed),
        // and a shared directory is where they look for it.
        slot.room_wanted.store(true);
        if (sequence - slot.parts_merged.load() >= parts_ahead_) {
          if (!slot.shared) share(slot, number);
          return done;
        }
      }
      ++slot.parts_read;
      part = &slot.parts[sequence % parts_ahead_];
      directory = slot.directory.get();
      // A first part of another object than the one listed under the name
      // counts as a failed read: one error, and nothing of it is entered.
      const bool read = slot.directory->read_part(raw) &&
                        (sequence != 0 || slot.steps.empty() || slot.directory->is_object(slot.steps.back().file, raw));
      if (!read || raw.filled == 0) {
        last = true;
        slot.finished = true;
        if (!read) part->listing.errors = 1;  // the parts before stand
        // The merge closes the directory once it is past every part (helpers
        // may still be decoding earlier ones through it), or holds it for
        // its subdirectories.
        if (slot.shared) drop_shared(number);
      } else if (sequence == 1 && !slot.shared) {
        share(slot, number);  // more than one part: idle workers decode the rest alongside
      }
    }
    if (!last) directory->decode_part(raw, part->listing);
    ++done;
    finish_part(*part, last ? kLast : kReady);
    if (last) return done;
  }
}

void ListingPipeline::share(Slot& slot, std::uint64_t number) {
  slot.shared = true;
  {
    const std::lock_guard lock(shared_lock_);
    shared_.push_back(number);
    shared_count_.store(shared_.size());
  }
  wake_workers();
}

void ListingPipeline::drop_shared(std::uint64_t number) {
  const std::lock_guard lock(shared_lock_);
  shared_.erase(std::remove(shared_.begin(), shared_.end(), number), shared_.end());
  shared_count_.store(shared_.size());
}

bool ListingPipeline::help_shared_directory(RawPart& raw) {
  if (shared_count_.load() == 0) return false;
  std::vector<std::uint64_t> candidates;
  {
    const std::lock_guard lock(shared_lock_);
    candidates = shared_;
  }
  // Oldest first: the merge waits for it before any other.
  for (const std::uint64_t number : candidates) {
    if (read_parts(number, raw) > 0) return true;
  }
  return false;
}

void ListingPipeline::request_merge() {
  if (merge_requests_.fetch_add(1) != 0) return;  // the merger now will see this part
  for (;;) {
    const std::uint64_t seen = merge_requests_.load();
    try {
      merge_ready();
    } catch (...) {
      fail(std::current_exception());
    }
    if (merge_requests_.fetch_sub(seen) == seen) return;
  }
}

void ListingPipeline::merge_ready() {
  bool wake = false;
  while (!stopping_.load(std::memory_order_relaxed)) {
    if (taken_ == pending_) {
      // Nothing listed or being listed: the walk is over.
      stop_workers();
      return;
    }
    Slot& slot = slots_[taken_ % window_];
    const std::uint32_t sequence = slot.parts_merged.load(std::memory_order_relaxed);
    Part& part = slot.parts[sequence % parts_ahead_];
    const std::uint8_t state = part.state.load(std::memory_order_acquire);
    if (state == kEmpty) break;
    const bool last = state == kLast;
    if (!merger_.merge_part(slot.queued, slot.path, part.listing, last)) {
      stopped_by_merger_ = true;
      stop_workers();
      return;
    }
    if (!slot.lists_directories) {
      slot.lists_directories = std::any_of(part.listing.entries.begin(), part.listing.entries.end(),
                                           [](const ListedEntry& entry) { return entry.metadata.directory; });
    }
    part.listing = CompactListing{};  // merged: its memory goes back now
    part.state.store(kEmpty, std::memory_order_relaxed);
    slot.parts_merged.store(sequence + 1);
    if (slot.room_wanted.exchange(false)) wake = true;
    if (last) {
      finish_directory(slot);
      ++taken_;
    }
    // Directories found in this part go out now, even while the rest of a
    // huge directory is still being merged.
    const std::uint64_t before = pending_;
    fill_slots();
    if (pending_ != before) wake = true;
  }
  if (wake) wake_workers();
}

void ListingPipeline::finish_directory(Slot& slot) {
  std::unique_ptr<OpenDirectory> listed;
  {
    const std::lock_guard lock(slot.reading);
    listed = std::move(slot.directory);
  }
  const std::size_t depth = slot.steps.size();
  // Merged in key order: every parent before this one's has had all its
  // subdirectories merged.
  if (depth >= 2) parents_.release_before(slot.steps[depth - 2].key);
  // Held before the subdirectories just found go out (fill_slots).
  if (listed && depth >= 1 && slot.lists_directories) parents_.hold(slot.steps.back().key, std::move(listed));
}

void ListingPipeline::fill_slots() {
  while (pending_ - taken_ < window_) {
    Slot& slot = slots_[pending_ % window_];
    slot.path.clear();
    slot.steps.clear();
    if (!merger_.next_directory(slot.queued, slot.path, slot.steps)) break;
    slot.parts_merged.store(0, std::memory_order_relaxed);
    slot.lists_directories = false;
    slot.room_wanted.store(false, std::memory_order_relaxed);
    ++pending_;
  }
  published_.store(pending_, std::memory_order_release);
}

}  // namespace qm
