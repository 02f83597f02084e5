#include "gpu/record_mapping.hpp"

#include "gpu/cuda_backend.hpp"

namespace pelorin {

void fill_record(UnitResult& r, const GpuAggregate& a, std::span<const OverflowState> queued, const LaunchPlan& plan) {
    const bool frontier = plan.args.frontier;
    const std::uint64_t n = plan.unit_size;
    r.checked.add_u64(frontier ? n : a.checked);
    r.candidates.add_u64(a.candidates);
    r.survivors_evaluated.add_u64(a.candidates);
    r.proof_exclusions.add_u64((frontier ? n : a.checked) - a.candidates);
    if (frontier) r.frontier_nodes.add_u64(plan.args.work_items);
    r.steps.add_u64(a.steps);
    r.overflow_starts.add_u64(a.overflows);
    r.checksum_sum += a.checksum_sum;
    r.checksum_xor ^= a.checksum_xor;
    (plan.u64_range ? r.u64_completions : r.u128_completions).add_u64(a.candidates - a.overflows);
    r.accounting = plan.per_start ? "per-start" : "survivor-frontier";
    if (plan.args.recursive) r.proof_hash = plan.proof_hash;
    if (a.invalid != 0 && r.valid) {
        r.valid = false;
        r.message = "CUDA overflow queue capacity exceeded";
    }
    for (const OverflowState& entry : queued) {
        const OverflowFinish f = finish_overflowed_start(entry);
        r.steps.add_u64(f.steps);
        (f.wide ? r.bigint_completions : r.u256_completions).increment();
    }
}

}  // namespace pelorin
