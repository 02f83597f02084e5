#include "server/store/unit_verdict.hpp"

#include <algorithm>
#include <set>

#include "server/store/copies.hpp"

namespace pelorin::server {
namespace {

struct Group {
    std::vector<const WeighedResult*> members;
    std::set<std::string> workers;
    bool confirmed = false;    // holds a result that needs no confirmation
    bool counts = false;       // holds a result that counts toward setting the unit aside
    bool independent = false;  // holds results of two independent workers
};

}  // namespace

UnitVerdict weigh_unit(const std::vector<WeighedResult>& results, unsigned set_aside_after) {
    std::int64_t refused = 0;
    std::vector<Group> groups;
    bool newest_disagrees = false;
    for (const WeighedResult& r : results) {
        if (r.status == ResultStatus::invalidated) continue;
        if (!r.passed) {
            if (r.counts_for_set_aside) ++refused;
            continue;
        }
        auto group = std::find_if(groups.begin(), groups.end(), [&](const Group& g) {
            return copies_agree(g.members.front()->comparable, r.comparable);
        });
        newest_disagrees = &r == &results.back() && group == groups.end() && !groups.empty();
        if (group == groups.end()) group = groups.insert(groups.end(), Group{});
        for (const WeighedResult* m : group->members)
            group->independent = group->independent || independent(m->worker, r.worker);
        group->members.push_back(&r);
        group->workers.insert(r.worker_id);
        group->confirmed = group->confirmed || !r.needs_confirmation;
        group->counts = group->counts || r.counts_for_set_aside;
    }

    UnitVerdict verdict;
    verdict.newest_disagrees = newest_disagrees;
    const Group* winner = nullptr;
    for (const Group& g : groups)
        if (g.independent && (winner == nullptr || g.workers.size() > winner->workers.size())) winner = &g;
    verdict.copied = winner != nullptr;
    if (winner == nullptr && groups.size() == 1 && groups.front().confirmed) winner = &groups.front();

    if (winner != nullptr) {
        verdict.state = UnitState::validated;
        verdict.canonical = winner->members.front()->id;
        for (const Group& g : groups)
            for (const WeighedResult* r : g.members) {
                if (&g == winner) {
                    verdict.validated.push_back(r->id);
                } else {
                    verdict.outvoted.push_back(r->id);
                    if (std::find(verdict.faulty_workers.begin(), verdict.faulty_workers.end(), r->worker_id) ==
                        verdict.faulty_workers.end())
                        verdict.faulty_workers.push_back(r->worker_id);
                }
            }
        return verdict;
    }
    const auto threshold = static_cast<std::int64_t>(set_aside_after);
    const auto disagreeing = std::count_if(groups.begin(), groups.end(), [](const Group& g) { return g.counts; });
    if (refused >= threshold || disagreeing >= threshold) verdict.state = UnitState::set_aside;
    else verdict.state = groups.empty() ? UnitState::open : UnitState::pending;
    return verdict;
}

}  // namespace pelorin::server
