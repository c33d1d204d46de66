#include "hashing/hash_entry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <tuple>

#include "hashing/blake3_hex.h"
#include "hashing/hashing_test_support.h"
#include "support/step_clock.h"

namespace qm {
namespace {

using test::engine_over;
using test::hash_entry;
using test::id_of;
using test::make_old;
using test::pseudo_random_bytes;
using test::TempDir;

// ---- full mode against b3sum

struct FullCase {
  const char* name;
  std::size_t size;
};

void PrintTo(const FullCase& c, std::ostream* os) { *os << c.name; }

class FullHash : public ::testing::TestWithParam<FullCase> {};

TEST_P(FullHash, EqualsTheHashB3sumComputesForTheFile) {
  TempDir dir;
  const std::string path = dir.write_file("file", pseudo_random_bytes(GetParam().size, 11));
  make_old(path);
  auto engine = engine_over(dir.path());
  const EntryId id = id_of(engine->index, path);
  for (const bool revalidate : {true, false}) {
    auto hashed = hash_entry(*engine, id, HashMode::Full, revalidate);
    ASSERT_TRUE(hashed.ok()) << hashed.error();
    EXPECT_EQ(*hashed, test::b3sum_of(path)) << "revalidate " << revalidate;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, FullHash,
                         ::testing::Values(FullCase{"empty", 0}, FullCase{"three_bytes", 3},
                                           FullCase{"exactly_one_read", kFullReadSize},
                                           FullCase{"one_byte_past_a_read", kFullReadSize + 1},
                                           FullCase{"several_reads", 3 * kFullReadSize + 12345}),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(HashEntry, EmptyFileHasTheKnownEmptyDigest) {
  TempDir dir;
  const std::string path = dir.write_file("empty", "");
  auto engine = engine_over(dir.path());
  auto hashed = hash_entry(*engine, id_of(engine->index, path), HashMode::Full, true);
  ASSERT_TRUE(hashed.ok()) << hashed.error();
  EXPECT_EQ(*hashed, "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262");
}

// ---- sampled mode

struct SampleCase {
  const char* name;
  std::size_t size;
  std::size_t offsets[3];  // where the three sample reads start
};

void PrintTo(const SampleCase& c, std::ostream* os) { *os << c.name; }

class SampledHash : public ::testing::TestWithParam<SampleCase> {};

// A file the samples cover whole is read once and its content hash is its
// sampled hash too; a larger one's sampled hash is that of its three slices.
// The read carries the content hash of a file no larger than the head, and
// the head hash of a larger one.
TEST_P(SampledHash, IsTheContentHashOfAFileTheSamplesCoverElseTheHashOfTheThreeSlices) {
  const SampleCase& c = GetParam();
  TempDir dir;
  const std::string content = pseudo_random_bytes(c.size, 5);
  const std::string path = dir.write_file("file", content);
  auto engine = engine_over(dir.path());

  std::string slices;
  for (const std::size_t offset : c.offsets) slices += content.substr(std::min(offset, content.size()), kSampleReadSize);
  auto hashed = test::hash_entry_hashes(*engine, id_of(engine->index, path), HashMode::Sampled, false);
  ASSERT_TRUE(hashed.ok()) << hashed.error();
  EXPECT_EQ(digest_hex(hashed->digest), blake3_hex(c.size <= kSamplesCoverWholeFile ? content : slices));
  if (c.size <= kHeadSize) {
    ASSERT_TRUE(hashed->content.has_value());
    EXPECT_EQ(digest_hex(*hashed->content), blake3_hex(content));
    EXPECT_FALSE(hashed->head.has_value());
  } else {
    EXPECT_FALSE(hashed->content.has_value());
    ASSERT_TRUE(hashed->head.has_value());
    EXPECT_EQ(digest_hex(*hashed->head), blake3_hex(content.substr(0, kHeadSize)));
  }
  EXPECT_EQ(engine->files.take().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SampledHash,
    ::testing::Values(SampleCase{"empty", 0, {0, 0, 0}}, SampleCase{"smaller_than_a_sample", 10000, {0, 0, 0}},
                      SampleCase{"exactly_one_sample", 16384, {0, 0, 0}},
                      SampleCase{"odd_tail_rounds_the_middle_down", 16385, {0, 0, 1}},
                      SampleCase{"three_samples_exactly", 49152, {0, 16384, 32768}},
                      SampleCase{"one_byte_more_than_three_samples", 49153, {0, 16384, 32769}},
                      SampleCase{"exactly_the_head", 65536, {0, 24576, 49152}},
                      SampleCase{"one_byte_more_than_the_head", 65537, {0, 24576, 49153}},
                      SampleCase{"middle_inside_the_head", 100000, {0, 41808, 83616}},
                      SampleCase{"middle_across_the_head_end", 120000, {0, 51808, 103616}},
                      SampleCase{"middle_after_the_head", 300000, {0, 141808, 283616}}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

// ---- head mode

class HeadHash : public ::testing::TestWithParam<std::size_t> {};

TEST_P(HeadHash, IsTheHashOfTheFirstBytesAndTheContentHashOfAFileThatEndsThere) {
  TempDir dir;
  const std::string content = pseudo_random_bytes(GetParam(), 6);
  const std::string path = dir.write_file("file", content);
  auto engine = engine_over(dir.path());
  auto hashed = test::hash_entry_hashes(*engine, id_of(engine->index, path), HashMode::Head, false);
  ASSERT_TRUE(hashed.ok()) << hashed.error();
  EXPECT_EQ(digest_hex(hashed->digest), blake3_hex(content.substr(0, kHeadSize)));
  EXPECT_EQ(hashed->content.has_value(), content.size() <= kHeadSize);
  if (hashed->content) {
    EXPECT_EQ(*hashed->content, hashed->digest);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, HeadHash, ::testing::Values(0, 1000, kHeadSize, kHeadSize + 1, 5 * kHeadSize));

// ---- full reads that go on from a head read

struct ContinuedRead {
  std::uint64_t bytes = 0;  // read by the full read alone
  Result<FileHashes> full = CommandError{"not run"};
};

// A head or sampled read that keeps its continuation, change() on the file,
// then a full read given that continuation.
ContinuedRead head_then_full(const std::string& path, std::size_t size, const std::function<void()>& change,
                             HashMode first = HashMode::Head) {
  auto engine = engine_over(std::filesystem::path(path).parent_path().string());
  const EntryId id = id_of(engine->index, path);
  HeadContinuation continuation;
  auto head = test::hash_entry_hashes(*engine, id, first, false, &continuation);
  EXPECT_TRUE(head.ok()) << head.error();
  EXPECT_EQ(continuation.state != nullptr, size > kHeadSize);
  change();
  ContinuedRead read;
  engine->files.after_read = [&](const std::string&, std::uint64_t total) { read.bytes = total; };
  read.full = test::hash_entry_hashes(*engine, id, HashMode::Full, false, &continuation);
  return read;
}

class ContinuedFullHash : public ::testing::TestWithParam<std::tuple<HashMode, std::size_t>> {};

TEST_P(ContinuedFullHash, ReadsOnlyWhatFollowsTheHeadAndGivesTheContentHash) {
  const auto [first, size] = GetParam();
  TempDir dir;
  const std::string content = pseudo_random_bytes(size, 8);
  const std::string path = dir.write_file("file", content);
  const ContinuedRead read = head_then_full(path, size, [] {}, first);
  ASSERT_TRUE(read.full.ok()) << read.full.error();
  EXPECT_EQ(digest_hex(read.full->digest), blake3_hex(content));
  EXPECT_EQ(read.bytes, size > kHeadSize ? size - kHeadSize : size);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ContinuedFullHash,
                         ::testing::Combine(::testing::Values(HashMode::Head, HashMode::Sampled),
                                            ::testing::Values(1000, kHeadSize, kHeadSize + 1, 2 * kHeadSize,
                                                              kFullReadSize + 3, 3 * kFullReadSize + kHeadSize + 17)));

class ContinuedAfterWrite : public ::testing::TestWithParam<HashMode> {};

TEST_P(ContinuedAfterWrite, AFileWrittenSinceItsHeadWasReadIsReadAgainFromTheStart) {
  TempDir dir;
  std::string content = pseudo_random_bytes(5 * kHeadSize, 8);
  const std::string path = dir.write_file("file", content);
  test::set_mtime(path, 1600000000, 7);
  const ContinuedRead read = head_then_full(
      path, content.size(),
      [&] {
        // New bytes inside the head, the size and modification time put back.
        content[100] = static_cast<char>(content[100] ^ 0x5A);
        dir.write_file("file", content);
        test::set_mtime(path, 1600000000, 7);
      },
      GetParam());
  ASSERT_TRUE(read.full.ok()) << read.full.error();
  EXPECT_EQ(digest_hex(read.full->digest), blake3_hex(content));
  EXPECT_EQ(read.bytes, content.size());
}

INSTANTIATE_TEST_SUITE_P(FirstRead, ContinuedAfterWrite, ::testing::Values(HashMode::Head, HashMode::Sampled));

TEST(HashEntry, SampledHashIgnoresBytesOutsideTheSamples) {
  TempDir dir;
  std::string content = pseudo_random_bytes(100000, 9);
  const std::string a = dir.write_file("a", content);
  content[20000] = static_cast<char>(content[20000] ^ 0x55);
  const std::string b = dir.write_file("b", content);
  auto engine = engine_over(dir.path());
  auto sampled_a = hash_entry(*engine, id_of(engine->index, a), HashMode::Sampled, false);
  auto sampled_b = hash_entry(*engine, id_of(engine->index, b), HashMode::Sampled, false);
  auto full_a = hash_entry(*engine, id_of(engine->index, a), HashMode::Full, false);
  auto full_b = hash_entry(*engine, id_of(engine->index, b), HashMode::Full, false);
  ASSERT_TRUE(sampled_a.ok() && sampled_b.ok() && full_a.ok() && full_b.ok());
  EXPECT_EQ(*sampled_a, *sampled_b);
  EXPECT_NE(*full_a, *full_b);
  EXPECT_NE(*sampled_a, *full_a);
}

// ---- refusals

struct RefusalCase {
  const char* name;
  // Changes the disk (or the index) after the scan; returns the id to hash.
  EntryId (*arrange)(const TempDir& dir, test::HashingState& engine);
  const char* with_revalidation;     // what the hash command reports
  const char* without_revalidation;  // what the duplicate finder meets
};

EntryId file_id(const TempDir& dir, test::HashingState& engine) { return id_of(engine.index, dir / "d/file"); }

const RefusalCase kRefusals[] = {
    {"directory", [](const TempDir& dir, test::HashingState& engine) { return id_of(engine.index, dir / "d"); }, "Not a file",
     "Not a file"},
    {"never_scanned_id", [](const TempDir&, test::HashingState& engine) { return EntryId{engine.index.count() + 3}; },
     "Unknown index entry", "Unknown index entry"},
    {"forgotten_item",
     [](const TempDir& dir, test::HashingState& engine) {
       const EntryId id = file_id(dir, engine);
       engine.index.take_out(id);
       return id;
     },
     "Item was removed", "Item was removed"},
    {"appended_after_scan",
     [](const TempDir& dir, test::HashingState& engine) {
       dir.write_file("d/file", pseudo_random_bytes(5000, 2));
       return file_id(dir, engine);
     },
     "Item changed since scan; scan again", "File changed"},
    {"mtime_changed_after_scan",
     [](const TempDir& dir, test::HashingState& engine) {
       test::set_mtime(dir / "d/file", 1500000000);
       return file_id(dir, engine);
     },
     "Item changed since scan; scan again", "File changed"},
    {"replaced_by_another_file_of_the_same_size",
     [](const TempDir& dir, test::HashingState& engine) {
       const std::string replacement = dir.write_file("other", pseudo_random_bytes(4000, 1));
       make_old(replacement);
       ::rename(replacement.c_str(), (dir / "d/file").c_str());
       return file_id(dir, engine);
     },
     "Item changed since scan; scan again", "File changed"},
    {"replaced_by_a_symbolic_link",
     [](const TempDir& dir, test::HashingState& engine) {
       const std::string target = dir.write_file("target", pseudo_random_bytes(4000, 1));
       make_old(target);
       ::unlink((dir / "d/file").c_str());
       dir.make_symlink("d/file", target);
       return file_id(dir, engine);
     },
     "Path changed or became a link", "link, placeholder or special file"},
    {"replaced_by_a_fifo",
     [](const TempDir& dir, test::HashingState& engine) {
       ::unlink((dir / "d/file").c_str());
       ::mkfifo((dir / "d/file").c_str(), 0644);
       return file_id(dir, engine);
     },
     "link, placeholder or special file", "link, placeholder or special file"},
    {"deleted_after_scan",
     [](const TempDir& dir, test::HashingState& engine) {
       ::unlink((dir / "d/file").c_str());
       return file_id(dir, engine);
     },
     "No such file or directory (os error 2)", "No such file or directory (os error 2)"},
    {"parent_replaced_by_a_link",
     [](const TempDir& dir, test::HashingState& engine) {
       const EntryId id = file_id(dir, engine);
       ::rename((dir / "d").c_str(), (dir / "moved").c_str());
       dir.make_symlink("d", dir / "moved");
       return id;
     },
     "Path changed or became a link", nullptr},  // the duplicate finder checks the file only
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class HashRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(HashRefusal, ReportsWhyTheFileWasNotHashedAndCachesNothing) {
  const RefusalCase& c = GetParam();
  TempDir dir;
  make_old(dir.write_file("d/file", pseudo_random_bytes(4000, 1)));
  auto engine = engine_over(dir.path());
  const EntryId id = c.arrange(dir, *engine);

  auto checked = hash_entry(*engine, id, HashMode::Full, true);
  ASSERT_FALSE(checked.ok());
  EXPECT_EQ(checked.error(), c.with_revalidation);

  if (c.without_revalidation) {
    for (const HashMode mode : {HashMode::Full, HashMode::Sampled}) {
      auto unchecked = hash_entry(*engine, id, mode, false);
      ASSERT_FALSE(unchecked.ok());
      EXPECT_EQ(unchecked.error(), c.without_revalidation);
    }
  }
  EXPECT_EQ(engine->hash_cache.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, HashRefusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(HashEntry, UnreadableFileReportsTheOperatingSystemErrorToAnUnprivilegedUser) {
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const std::string path = dir.write_file("secret", "private bytes");
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  auto engine = engine_over(dir.path());
  const EntryId id = id_of(engine->index, path);

  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipe_fds[0]);
    if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) ::_exit(2);
    std::string report;
    for (const bool revalidate : {true, false}) {
      auto hashed = hash_entry(*engine, id, HashMode::Full, revalidate);
      report += (hashed.ok() ? "hashed " + *hashed : hashed.error()) + "\n";
    }
    const ssize_t written = ::write(pipe_fds[1], report.data(), report.size());
    ::_exit(written == static_cast<ssize_t>(report.size()) ? 0 : 3);
  }
  ::close(pipe_fds[1]);
  std::string report;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, static_cast<std::size_t>(n));
  ::close(pipe_fds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  EXPECT_EQ(report, "Permission denied (os error 13)\nPermission denied (os error 13)\n");
}

// ---- a file that changes while it is read

struct MidHashChange {
  const char* name;
  void (*change)(const std::string& path);
};

const MidHashChange kMidHashChanges[] = {
    {"appended",
     [](const std::string& path) {
       const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
       ASSERT_GE(fd, 0);
       ASSERT_EQ(::write(fd, "more", 4), 4);
       ::close(fd);
     }},
    {"overwritten_in_place",
     [](const std::string& path) {
       const int fd = ::open(path.c_str(), O_WRONLY);
       ASSERT_GE(fd, 0);
       ASSERT_EQ(::pwrite(fd, "XXXX", 4, 0), 4);
       ::close(fd);
     }},
    {"truncated", [](const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), 1000), 0); }},
    {"touched_within_the_same_second", [](const std::string& path) { test::set_mtime(path, 1600000000, 5); }},
};

void PrintTo(const MidHashChange& c, std::ostream* os) { *os << c.name; }

class ChangeWhileHashing : public ::testing::TestWithParam<MidHashChange> {};

TEST_P(ChangeWhileHashing, RefusesTheResultAndCachesNothing) {
  TempDir dir;
  const std::string path = dir.write_file("growing", pseudo_random_bytes(3 * kFullReadSize, 4));
  make_old(path);
  auto engine = engine_over(dir.path());
  const EntryId id = id_of(engine->index, path);

  int changes = 0;
  engine->files.after_read = [&](const std::string& read_path, std::uint64_t total) {
    // Once, after the first read of the file under test.
    if (read_path == path && total == kFullReadSize && changes++ == 0) GetParam().change(read_path);
  };
  auto hashed = hash_entry(*engine, id, HashMode::Full, false);

  EXPECT_EQ(changes, 1) << "the change never happened";
  ASSERT_FALSE(hashed.ok());
  EXPECT_EQ(hashed.error(), kChangedWhileHashingError);
  EXPECT_EQ(engine->hash_cache.size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Changes, ChangeWhileHashing, ::testing::ValuesIn(kMidHashChanges),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

// ---- the cache

TEST(HashEntryCache, OldUnchangedFileIsServedFromTheCacheWithoutOpeningIt) {
  TempDir dir;
  const std::string path = dir.write_file("old", pseudo_random_bytes(50000, 3));
  make_old(path);
  auto engine = engine_over(dir.path());
  const EntryId id = id_of(engine->index, path);
  test::RecordingOpener& opens = engine->files;

  auto first = hash_entry(*engine, id, HashMode::Full, false);
  ASSERT_TRUE(first.ok()) << first.error();
  EXPECT_EQ(opens.take().size(), 1u);
  EXPECT_EQ(engine->hash_cache.size(), 1u);

  auto second = hash_entry(*engine, id, HashMode::Full, false);
  ASSERT_TRUE(second.ok()) << second.error();
  EXPECT_EQ(*second, *first);
  EXPECT_TRUE(opens.take().empty());

  // The sampled hash of the same file is a separate entry: it is read.
  auto sampled = hash_entry(*engine, id, HashMode::Sampled, false);
  ASSERT_TRUE(sampled.ok()) << sampled.error();
  EXPECT_EQ(opens.take().size(), 1u);
  EXPECT_EQ(engine->hash_cache.size(), 2u);
}

TEST(HashEntryCache, ServesExactlyTheStoredHashForTheKeyOfTheFileAsItIsNow) {
  TempDir dir;
  const std::string path = dir.write_file("old", "content");
  make_old(path, 123);
  auto engine = engine_over(dir.path());
  const EntryId id = id_of(engine->index, path);
  const FileId file = engine->index.file_id(id);
  const HashCacheKey key{file.device, file.inode, 7, 1600000000000000123ull, test::changed_time_of(path), HashMode::Full};
  const Digest stored = blake3_digest("stored");
  engine->hash_cache.insert(key, {stored, std::nullopt, std::nullopt});

  auto hashed = test::hash_entry_hashes(*engine, id, HashMode::Full, false);
  ASSERT_TRUE(hashed.ok()) << hashed.error();
  EXPECT_EQ(hashed->digest, stored);
  EXPECT_TRUE(engine->files.take().empty());
}

struct AgeCase {
  const char* name;
  std::int64_t age_ns;  // the wall clock minus the file's indexed mtime
  bool served;          // the second hash comes from the cache
};

void PrintTo(const AgeCase& c, std::ostream* os) { *os << c.name; }

class CacheAge : public ::testing::TestWithParam<AgeCase> {};

TEST_P(CacheAge, OnlyFilesAtLeastFourSecondsOldAreServedFromTheCache) {
  TempDir dir;
  const std::string path = dir.write_file("file", pseudo_random_bytes(50000, 3));
  // A day ahead of the machine's time, so its status-change time (now) is long settled.
  const std::int64_t modified_ns = system_clock().wall_ns() / 1000000000 * 1000000000 + 86400000000000 + 500;
  test::set_mtime(path, modified_ns / 1000000000, 500);
  auto engine = engine_over(dir.path());
  const test::StepClock clock(std::chrono::nanoseconds(0), modified_ns + GetParam().age_ns);
  engine->clock = &clock;
  const EntryId id = id_of(engine->index, path);

  auto first = hash_entry(*engine, id, HashMode::Full, false);
  ASSERT_TRUE(first.ok()) << first.error();
  EXPECT_EQ(engine->hash_cache.size(), 1u) << "young files are stored too";
  auto second = hash_entry(*engine, id, HashMode::Full, false);
  ASSERT_TRUE(second.ok()) << second.error();
  EXPECT_EQ(*second, *first);
  EXPECT_EQ(engine->files.take().size(), GetParam().served ? 1u : 2u);
}

INSTANTIATE_TEST_SUITE_P(Ages, CacheAge,
                         ::testing::Values(AgeCase{"modified_in_the_future", -3600000000000, false},
                                           AgeCase{"just_modified", 0, false},
                                           AgeCase{"a_nanosecond_short_of_four_seconds", 3999999999, false},
                                           AgeCase{"four_seconds_old", 4000000000, true},
                                           AgeCase{"a_year_old", 31536000000000000, true}),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(HashEntryCache, RevalidatedHashNeitherReadsNorFillsTheCache) {
  TempDir dir;
  const std::string path = dir.write_file("old", "content");
  make_old(path);
  auto engine = engine_over(dir.path());
  const EntryId id = id_of(engine->index, path);
  const FileId file = engine->index.file_id(id);
  const HashCacheKey key{file.device, file.inode, engine->index.size(id), engine->index.modified(id),
                         test::changed_time_of(path), HashMode::Full};
  const FileHashes stale{blake3_digest("stale"), std::nullopt, std::nullopt};
  engine->hash_cache.insert(key, stale);

  auto hashed = hash_entry(*engine, id, HashMode::Full, true);
  ASSERT_TRUE(hashed.ok()) << hashed.error();
  EXPECT_EQ(*hashed, blake3_hex("content"));
  EXPECT_EQ(engine->hash_cache.lookup(key), stale);
  EXPECT_EQ(engine->hash_cache.size(), 1u);
}

// ---- a change that puts size and modification time back

// Each rewrites bytes of the file, keeps its size and restores its
// modification time, as touch -r, cp -p and rsync -t do.
struct RestoredTimeChange {
  const char* name;
  void (*change)(const std::string& path);
};

void overwrite_at(const std::string& path, std::uint64_t offset, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

void restore_mtime_after(const std::string& path, void (*write)(const std::string&)) {
  struct stat before;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  write(path);
  test::set_mtime(path, before.st_mtim.tv_sec, before.st_mtim.tv_nsec);
}

const RestoredTimeChange kRestoredTimeChanges[] = {
    {"seventeen_bytes_in_the_middle",
     [](const std::string& path) {
       restore_mtime_after(path, [](const std::string& p) { overwrite_at(p, 50000, "seventeen bytes!!"); });
     }},
    {"truncated_and_written_again",
     [](const std::string& path) {
       restore_mtime_after(path, [](const std::string& p) {
         const std::string other = pseudo_random_bytes(100000, 77);
         const int fd = ::open(p.c_str(), O_WRONLY | O_TRUNC);
         ASSERT_GE(fd, 0);
         ASSERT_EQ(::write(fd, other.data(), other.size()), static_cast<ssize_t>(other.size()));
         ::close(fd);
       });
     }},
};

void PrintTo(const RestoredTimeChange& c, std::ostream* os) { *os << c.name; }

class RestoredModificationTime : public ::testing::TestWithParam<RestoredTimeChange> {};

TEST_P(RestoredModificationTime, CachedHashIsNotServedAndTheFileIsReadAgain) {
  TempDir dir;
  const std::string path = dir.write_file("file", pseudo_random_bytes(100000, 76));
  make_old(path);
  auto engine = engine_over(dir.path());
  const EntryId id = id_of(engine->index, path);
  const std::string old_content_hash = test::b3sum_of(path);
  for (const HashMode mode : {HashMode::Full, HashMode::Sampled}) ASSERT_TRUE(hash_entry(*engine, id, mode, false).ok());
  engine->files.take();

  GetParam().change(path);
  ASSERT_EQ(engine->index.modified(id), 1600000000000000000ull) << "the index still matches the file";

  // No scan in between: the index is the old one, the cache keyed by the old file.
  auto full = hash_entry(*engine, id, HashMode::Full, false);
  ASSERT_TRUE(full.ok()) << full.error();
  EXPECT_EQ(*full, test::b3sum_of(path));
  EXPECT_NE(*full, old_content_hash);
  EXPECT_EQ(engine->files.take().size(), 1u);
  // The new hash is the one served from now on.
  auto again = hash_entry(*engine, id, HashMode::Full, false);
  ASSERT_TRUE(again.ok()) << again.error();
  EXPECT_EQ(*again, *full);
  EXPECT_TRUE(engine->files.take().empty());
}

INSTANTIATE_TEST_SUITE_P(Changes, RestoredModificationTime, ::testing::ValuesIn(kRestoredTimeChanges),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(HashEntry, AChangeThatPutsTheModificationTimeBackWhileHashingIsRefused) {
  TempDir dir;
  const std::string path = dir.write_file("file", pseudo_random_bytes(3 * kFullReadSize, 5));
  make_old(path);
  auto engine = engine_over(dir.path());
  int changes = 0;
  engine->files.after_read = [&](const std::string& read_path, std::uint64_t total) {
    if (total != kFullReadSize || changes++ != 0) return;
    restore_mtime_after(read_path, [](const std::string& p) { overwrite_at(p, 0, "X"); });
  };
  auto hashed = hash_entry(*engine, id_of(engine->index, path), HashMode::Full, false);
  EXPECT_EQ(changes, 1);
  ASSERT_FALSE(hashed.ok());
  EXPECT_EQ(hashed.error(), kChangedWhileHashingError);
  EXPECT_EQ(engine->hash_cache.size(), 0u);
}

// A change in the same tick of the file system's clock as the read would keep
// the status-change time too, so a hash is stored only once that time is
// settled: at least four seconds before the read began.
struct SettledCase {
  const char* name;
  std::int64_t wall_minus_changed_ns;
  bool stored;
};

void PrintTo(const SettledCase& c, std::ostream* os) { *os << c.name; }

class SettledChangeTime : public ::testing::TestWithParam<SettledCase> {};

TEST_P(SettledChangeTime, HashIsStoredOnlyForAFileLastChangedFourSecondsBeforeTheRead) {
  TempDir dir;
  const std::string path = dir.write_file("file", pseudo_random_bytes(60000, 8));
  make_old(path);
  auto engine = engine_over(dir.path());
  const test::StepClock clock(std::chrono::nanoseconds(0),
                              static_cast<std::int64_t>(test::changed_time_of(path)) + GetParam().wall_minus_changed_ns);
  engine->clock = &clock;
  for (const HashMode mode : {HashMode::Full, HashMode::Sampled}) {
    ASSERT_TRUE(hash_entry(*engine, id_of(engine->index, path), mode, false).ok());
  }
  EXPECT_EQ(engine->hash_cache.size(), GetParam().stored ? 2u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Ages, SettledChangeTime,
                         ::testing::Values(SettledCase{"changed_after_the_clock_reading", -1000, false},
                                           SettledCase{"changed_just_now", 0, false},
                                           SettledCase{"a_nanosecond_short_of_four_seconds", 3999999999, false},
                                           SettledCase{"four_seconds_before", 4000000000, true}),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

}  // namespace
}  // namespace qm

// ---- serving a directory's files from the cache together

namespace qm {
namespace {

// serve_cached over ids, in the state's context.
std::vector<std::optional<FileHashes>> serve_cached_ids(test::HashingState& state, std::vector<EntryId> ids,
                                                        HashMode mode) {
  std::vector<std::optional<FileHashes>> served(ids.size());
  serve_cached(state.index, state.hash_cache, state.context(), ids, mode, served);
  return served;
}

TEST(ServeCached, ServesTheCachedFilesOfOneDirectoryWithoutOpeningThem) {
  TempDir dir;
  std::vector<std::string> paths;
  for (const char* name : {"d/a", "d/b", "d/not-cached", "e/elsewhere"}) {
    dir.make_dir(std::string(name).substr(0, 1));
    paths.push_back(dir.write_file(name, pseudo_random_bytes(70000, static_cast<unsigned>(paths.size()) + 1)));
    make_old(paths.back());
  }
  auto engine = engine_over(dir.path());
  std::vector<EntryId> ids;
  for (const std::string& path : paths) ids.push_back(id_of(engine->index, path));
  std::vector<FileHashes> stored;
  for (const std::size_t i : {0u, 1u, 3u}) {
    auto hashed = test::hash_entry_hashes(*engine, ids[i], HashMode::Sampled, false);
    ASSERT_TRUE(hashed.ok()) << hashed.error();
    stored.push_back(*hashed);
  }
  engine->files.take();

  // Asked in another order: the first file the cache may hold sets the directory.
  const auto served = serve_cached_ids(*engine, {ids[2], ids[0], ids[3], ids[1]}, HashMode::Sampled);
  EXPECT_FALSE(served[0].has_value()) << "never hashed";
  EXPECT_EQ(served[1], stored[0]);
  EXPECT_FALSE(served[2].has_value()) << "in another directory";
  EXPECT_EQ(served[3], stored[1]);
  EXPECT_TRUE(engine->files.take().empty());

  // Another mode is another entry: nothing to serve.
  const auto full = serve_cached_ids(*engine, {ids[0], ids[1]}, HashMode::Full);
  EXPECT_FALSE(full[0].has_value());
  EXPECT_FALSE(full[1].has_value());
}

struct CachedFileChange {
  const char* name;
  void (*change)(const TempDir& dir, const std::string& path);
  bool served;
};

void PrintTo(const CachedFileChange& c, std::ostream* os) { *os << c.name; }

const CachedFileChange kCachedFileChanges[] = {
    {"unchanged", [](const TempDir&, const std::string&) {}, true},
    {"rewritten_with_its_modification_time_put_back",
     [](const TempDir&, const std::string& path) {
       restore_mtime_after(path, [](const std::string& p) { overwrite_at(p, 100, "seventeen bytes!!"); });
     },
     false},
    {"removed", [](const TempDir&, const std::string& path) { ASSERT_EQ(::unlink(path.c_str()), 0); }, false},
    {"replaced_by_a_copy_with_the_same_size_and_times",
     [](const TempDir& dir, const std::string& path) {
       const std::string copy = dir.write_file("d/copy", pseudo_random_bytes(70000, 1));
       make_old(copy);
       ASSERT_EQ(::rename(copy.c_str(), path.c_str()), 0);
     },
     false},
};

class ServeCachedAfterChange : public ::testing::TestWithParam<CachedFileChange> {};

TEST_P(ServeCachedAfterChange, ServesOnlyAFileThatIsAsItWasWhenItWasHashed) {
  TempDir dir;
  dir.make_dir("d");
  const std::string path = dir.write_file("d/file", pseudo_random_bytes(70000, 1));
  const std::string other = dir.write_file("d/other", pseudo_random_bytes(70000, 2));
  make_old(path);
  make_old(other);
  auto engine = engine_over(dir.path());
  const EntryId id = id_of(engine->index, path);
  const EntryId other_id = id_of(engine->index, other);
  auto stored = test::hash_entry_hashes(*engine, id, HashMode::Sampled, false);
  ASSERT_TRUE(stored.ok()) << stored.error();
  auto other_stored = test::hash_entry_hashes(*engine, other_id, HashMode::Sampled, false);
  ASSERT_TRUE(other_stored.ok()) << other_stored.error();
  engine->files.take();

  GetParam().change(dir, path);
  const auto served = serve_cached_ids(*engine, {id, other_id}, HashMode::Sampled);
  EXPECT_EQ(served[0].has_value(), GetParam().served);
  if (GetParam().served) {
    EXPECT_EQ(served[0], *stored);
  }
  EXPECT_EQ(served[1], *other_stored) << "a changed file does not keep its neighbours from being served";
  EXPECT_TRUE(engine->files.take().empty());
}

INSTANTIATE_TEST_SUITE_P(Changes, ServeCachedAfterChange, ::testing::ValuesIn(kCachedFileChanges),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

}  // namespace
}  // namespace qm
