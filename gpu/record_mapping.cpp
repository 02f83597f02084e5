#include "gpu/record_mapping.hpp"

#include "gpu/cuda_backend.hpp"

namespace pelorin {

void fill_record(UnitResult& r, const GpuAggregate& a, std::span<const OverflowState> queued, const LaunchPlan& plan) {
    const bool frontier = plan.args.frontier;
    const std::uint64_t n = plan.unit_size;
    r.checked = BigUint(frontier ? n : a.checked);
    r.candidates = BigUint(a.candidates);
    r.survivors_evaluated = BigUint(a.candidates);
    r.proof_exclusions = BigUint((frontier ? n : a.checked) - a.candidates);
    if (frontier) r.frontier_nodes = BigUint(plan.args.work_items);
    r.steps = BigUint(a.steps);
    r.overflow_starts = BigUint(a.overflows);
    r.checksum_sum = a.checksum_sum;
    r.checksum_xor = a.checksum_xor;
    BigUint& completions = plan.u64_range ? r.u64_completions : r.u128_completions;
    completions = BigUint(a.candidates - a.overflows);
    r.accounting = plan.per_start ? "per-start" : "survivor-frontier";
    if (plan.args.recursive) r.proof_hash = plan.proof_hash;
    r.valid = a.invalid == 0;
    if (!r.valid) r.message = "CUDA overflow queue capacity exceeded";
    for (const OverflowState& entry : queued) {
        const OverflowFinish f = finish_overflowed_start(entry);
        r.steps.add_u64(f.steps);
        (f.wide ? r.bigint_completions : r.u256_completions).increment();
    }
}

}  // namespace pelorin
