#include "merge/pipeline.h"

namespace bonesplice {

std::optional<Failure> RunMerge(ByteView base, ByteView donor, MergeOutput& output,
                                const MergeOptions& options, MergeSummary* summary) {
  MergePlan plan;
  if (auto failure = PlanMerge(base, donor, plan)) return failure;
  Resolution resolution;
  if (auto failure = ResolveMerge(plan, base, donor, options, resolution)) return failure;
  if (summary != nullptr) {
    const AppendedEntryList& appended = resolution.appendedEntryList;
    *summary = {plan.base.header.frameCount, plan.donor.header.frameCount - 1, appended.count,
                appended.sharedCount, resolution.outputHeader.eofOffset};
  }
  return EmitMerge(plan, resolution, donor, output, options.threads);
}

}  // namespace bonesplice
