#pragma once
// Lists directories on the process pool and merges their listings in queue
// order, so ids follow the merge order exactly.
//
// Every pool worker both lists and merges: whichever worker finishes the part
// the merge waits for goes on to merge everything that is ready, so no thread
// sits between the workers and the index, and no thread is woken per
// directory. Directories are read a buffer-full (a "part") at a time; once a
// directory turns out to have more than one part, idle workers help decode it,
// and each part is merged and freed as soon as its turn comes, so a huge
// directory is neither listed by one thread nor held whole beside the index.
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/entry_id.h"
#include "fs/directory_cursor.h"
#include "fs/directory_reader.h"
#include "fs/held_directories.h"
#include "index/listed_parents.h"

namespace qm {

// A directory waiting to be listed: its entry, and whether its system path
// differs from its text path (a name on the way is not text).
struct QueuedDirectory {
  EntryId id = kNoEntry;
  bool raw_path = false;
};

// What the pipeline merges into. Calls come one at a time, from any worker.
class ListingMerger {
 public:
  virtual ~ListingMerger() = default;
  // Takes the next queued directory: writes its system path into path and the
  // steps that reach it from the pipeline's top into steps (both emptied,
  // reused buffers; names may point into path). False when none is queued now.
  virtual bool next_directory(QueuedDirectory& directory, std::string& path, std::vector<DirectoryStep>& steps) = 0;
  // Merges one part of the oldest directory not yet merged, as next_directory
  // gave it. last: the directory's final part. False stops the walk.
  virtual bool merge_part(const QueuedDirectory& directory, const std::string& path, const CompactListing& part,
                          bool last) = 0;
};

class ListingPipeline {
 public:
  // Directory descriptors each worker keeps to open the next directories from,
  // and the ones the workers hold for one another.
  static constexpr std::size_t kHeldPerWorker = 32;
  static constexpr std::size_t kHeldShared = 64;

  // top: the directory every queued directory's steps start from (borrowed).
  // window: directories listed ahead of the merge at most. parts_ahead: parts
  // of one directory read ahead of its merge at most. parents_held: listed
  // directories held open for their subdirectories at most (see ListedParents;
  // step keys must grow in the order next_directory hands directories out).
  ListingPipeline(ListingMerger& merger, const DirectoryReader& reader, int top, std::size_t window,
                  std::size_t parts_ahead, std::size_t parents_held = 0);
  ~ListingPipeline();
  ListingPipeline(const ListingPipeline&) = delete;
  ListingPipeline& operator=(const ListingPipeline&) = delete;

  // Lists and merges until the merger has no directory left or stops the walk.
  // False when the merger stopped it; an exception thrown by the merger is
  // rethrown here.
  bool run();

 private:
  enum PartState : std::uint8_t { kEmpty, kReady, kLast };
  struct Part {
    CompactListing listing;
    std::atomic<std::uint8_t> state{kEmpty};
  };
  struct Slot {
    QueuedDirectory queued;  // written by the merge before publishing
    std::string path;  // written by the merge before publishing, read by the lister
    std::vector<DirectoryStep> steps;  // likewise
    std::unique_ptr<Part[]> parts;
    std::atomic<std::uint32_t> parts_merged{0};  // written by the merge
    bool lists_directories = false;              // a merged part named a directory; the merge's
    std::atomic<bool> room_wanted{false};        // a reader found every part in use

    std::mutex reading;  // guards what follows; one reader at a time
    std::uint64_t number = 0;  // the directory in the slot now
    bool finished = true;      // its end has been read (or it failed)
    bool shared = false;
    std::uint32_t parts_read = 0;
    std::unique_ptr<OpenDirectory> directory;
  };

  void work();
  void work_until_stopped();
  void fail(std::exception_ptr error);  // records the first failure and stops every worker
  void start_directory(std::uint64_t number, RawPart& raw, DirectoryCursor& cursor);
  // Reads and decodes parts of the directory number while it has room; the count of parts done.
  std::size_t read_parts(std::uint64_t number, RawPart& raw);
  bool help_shared_directory(RawPart& raw);
  void share(Slot& slot, std::uint64_t number);  // caller holds slot.reading
  void drop_shared(std::uint64_t number);
  void finish_part(Part& part, PartState state);
  // After a directory's last part is merged: closes it or holds it for its subdirectories.
  void finish_directory(Slot& slot);

  // Merging: whoever asks while nobody merges becomes the merger, and merges
  // until no request is left unserved.
  void request_merge();
  void merge_ready();
  void fill_slots();
  void stop_workers();
  void wake_workers();

  ListingMerger& merger_;
  const DirectoryReader& reader_;
  int top_;
  std::size_t window_;
  std::uint32_t parts_ahead_;
  std::unique_ptr<Slot[]> slots_;
  HeldDirectories held_shared_{kHeldShared};
  ListedParents parents_;

  // Merge state: touched only by the current merger. Slot n % window holds
  // directory n; directories taken_ .. pending_ - 1 are the ones in flight.
  std::uint64_t pending_ = 0;  // directories submitted
  std::uint64_t taken_ = 0;    // directories merged to the end
  std::atomic<std::uint64_t> merge_requests_{0};

  std::atomic<std::uint64_t> published_{0};
  std::atomic<std::uint64_t> next_to_list_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<std::uint32_t> wake_{0};  // bumped whenever idle workers may have something to do

  std::mutex shared_lock_;
  std::vector<std::uint64_t> shared_;  // directories with more than one part still being read
  std::atomic<std::size_t> shared_count_{0};

  bool stopped_by_merger_ = false;
  std::mutex failure_lock_;
  std::exception_ptr failure_;
};

}  // namespace qm
