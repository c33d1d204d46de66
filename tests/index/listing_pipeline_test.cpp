// The listing pipeline with mergers of the tests' own: what it hands over, in
// what order, and how it ends when the merger stops it or throws.
#include "index/listing_pipeline.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <new>
#include <string>
#include <vector>

#include "support/descriptors.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::TempDir;

// Lists a fixed set of directories and records every part it is handed.
class RecordingMerger : public ListingMerger {
 public:
  explicit RecordingMerger(std::vector<std::string> directories) : directories_(std::move(directories)) {}

  // The directory's position in the list is its id, given back with each part.
  // Each directory is one step from the working directory: its whole path,
  // and the object there now (a missing one cannot be opened anyway).
  bool next_directory(QueuedDirectory& directory, std::string& path, std::vector<DirectoryStep>& steps) override {
    if (next_ == directories_.size()) return false;
    directory = {static_cast<EntryId>(next_), next_ % 2 == 1};
    path = directories_[next_++];
    struct stat st = {};
    ::lstat(path.c_str(), &st);
    steps.push_back({next_, path, {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)}});
    return true;
  }
  bool merge_part(const QueuedDirectory& directory, const std::string& path, const CompactListing& part,
                  bool last) override {
    if (merged_.empty() || finished_.back()) {
      merged_.push_back({path, {}});
      finished_.push_back(false);
      parts_.push_back(0);
    }
    EXPECT_EQ(merged_.back().first, path);
    EXPECT_EQ(directory.id, merged_.size() - 1);
    EXPECT_EQ(directory.raw_path, directory.id % 2 == 1);
    for (const ListedEntry& entry : part.entries) merged_.back().second.emplace_back(part.name(entry));
    ++parts_.back();
    finished_.back() = last;
    return ++calls_ != stop_after_;
  }

  std::size_t stop_after_ = 0;  // calls before the merger refuses (0: never)
  std::vector<std::pair<std::string, std::vector<std::string>>> merged_;
  std::vector<bool> finished_;
  std::vector<std::size_t> parts_;

 private:
  std::vector<std::string> directories_;
  std::size_t next_ = 0;
  std::size_t calls_ = 0;
};

class ThrowingMerger : public RecordingMerger {
 public:
  using RecordingMerger::RecordingMerger;
  bool merge_part(const QueuedDirectory& directory, const std::string& path, const CompactListing& part,
                  bool last) override {
    if (++calls_ == throw_at_) throw std::bad_alloc();
    return RecordingMerger::merge_part(directory, path, part, last);
  }
  std::size_t throw_at_ = 0;

 private:
  std::size_t calls_ = 0;
};

std::vector<std::string> names_of(const std::string& directory) {
  RawPart raw;
  const CompactListing listing = list_directory(fast_directory_reader(), directory, raw);
  std::vector<std::string> names;
  for (const ListedEntry& entry : listing.entries) names.emplace_back(listing.name(entry));
  return names;
}

// Two big directories (several reads each) between small ones.
std::vector<std::string> make_directories(const TempDir& tree) {
  const std::string padding(150, 'q');
  for (int i = 0; i < 1500; ++i) tree.write_file("big1/" + std::to_string(i) + padding, "");
  for (int i = 0; i < 1200; ++i) tree.write_file("big2/" + std::to_string(i) + padding, "");
  tree.write_file("small1/a", "");
  tree.make_dir("empty");
  return {tree / "small1", tree / "big1", tree / "empty", tree / "missing", tree / "big2", tree.path()};
}

TEST(ListingPipeline, HandsOverEveryDirectoryWholeAndInOrderWhateverItsLimits) {
  const TempDir tree;
  const std::vector<std::string> directories = make_directories(tree);
  for (const DirectoryReader* reader : {&fast_directory_reader(), &portable_directory_reader()}) {
  for (const std::size_t window : {std::size_t{1}, std::size_t{2}, std::size_t{128}}) {
    for (const std::size_t parts_ahead : {std::size_t{1}, std::size_t{3}}) {
      SCOPED_TRACE("window " + std::to_string(window) + ", parts ahead " + std::to_string(parts_ahead) +
                   (reader == &fast_directory_reader() ? ", fast reader" : ", portable reader"));
      RecordingMerger merger(directories);
      ListingPipeline pipeline(merger, *reader, AT_FDCWD, window, parts_ahead);
      ASSERT_TRUE(pipeline.run());
      ASSERT_EQ(merger.merged_.size(), directories.size());
      for (std::size_t i = 0; i < directories.size(); ++i) {
        EXPECT_EQ(merger.merged_[i].first, directories[i]);
        EXPECT_EQ(merger.merged_[i].second, names_of(directories[i])) << directories[i];
        EXPECT_TRUE(merger.finished_[i]);
      }
      EXPECT_GT(merger.parts_[1], 2u);  // big1 came in several parts
    }
  }
  }
}

TEST(ListingPipeline, AMergerThatStopsOrThrowsEndsTheWalkWithNothingLeftOpen) {
  const TempDir tree;
  const std::vector<std::string> directories = make_directories(tree);
  const int before = test::open_descriptor_count();
  for (const std::size_t at : {std::size_t{1}, std::size_t{3}, std::size_t{5}}) {
    SCOPED_TRACE("after part " + std::to_string(at));
    {
      RecordingMerger stopping(directories);
      stopping.stop_after_ = at;
      ListingPipeline pipeline(stopping, fast_directory_reader(), AT_FDCWD, 128, 2);
      EXPECT_FALSE(pipeline.run());
    }
    EXPECT_EQ(test::open_descriptor_count(), before);
    {
      ThrowingMerger throwing(directories);
      throwing.throw_at_ = at;
      ListingPipeline pipeline(throwing, fast_directory_reader(), AT_FDCWD, 128, 2);
      EXPECT_THROW(pipeline.run(), std::bad_alloc);
    }
    EXPECT_EQ(test::open_descriptor_count(), before);
  }
}

}  // namespace
}  // namespace qm
