#include "hashing/find_duplicates.h"

#include "hashing/hash_stage.h"

namespace qm {

DuplicateReport find_duplicates(const Index& index, HashCache& cache, const HashContext& outer,
                                std::uint64_t minimum, ProgressSink& progress) {
  // Thousands of files in few directories: each directory is reached once.
  OpenedDirectories directories;
  const HashContext context{outer.files, outer.clock, &directories};
  const Clock::TimePoint start = context.clock.now();
  const std::vector<EntryId> candidates = size_collisions(index, minimum);
  std::vector<StageFile> to_sample;
  to_sample.reserve(candidates.size());
  for (const EntryId id : candidates) to_sample.emplace_back(id);
  auto sampled = run_hash_stage(index, cache, context, to_sample, HashMode::Sampled, "sampling", start, progress);
  // Files the sampled read took whole come with their content hash: counted,
  // not read again. Larger ones come with their head hash, and are read in
  // full only while their head has a match.
  auto hashed = run_content_stage(index, cache, context, sample_collisions(index, std::move(sampled)), "hashing", start,
                                  progress);
  DuplicateReport report;
  report.groups = content_groups(index, std::move(hashed));
  report.elapsed_ms = whole_ms_between(start, context.clock.now());
  return report;
}

}  // namespace qm
