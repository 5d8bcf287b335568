#include "merge/pipeline.h"

namespace bonesplice {

std::optional<Failure> RunMerge(ByteView base, ByteView donor, MergeOutput& output,
                                const MergeOptions& options) {
  MergePlan plan;
  if (auto failure = PlanMerge(base, donor, plan)) return failure;
  Resolution resolution;
  if (auto failure = ResolveMerge(plan, base, donor, options, resolution)) return failure;
  return EmitMerge(plan, resolution, donor, output, options.threads);
}

}  // namespace bonesplice
