// The API's lease exchanges: acquire, heartbeat and complete with the checks of a result.
#include <nlohmann/json.hpp>

#include <chrono>

#include "server/api.hpp"
#include "server/limits.hpp"
#include "server/network_key.hpp"
#include "server/request_body.hpp"
#include "server/result_check.hpp"
#include "server/secure_random.hpp"
#include "server/store/copies.hpp"
#include "server/trust_policy.hpp"
#include "wideint/decimal.hpp"

namespace pelorin::server {
namespace {

using ojson = nlohmann::ordered_json;

ApiReply json_reply(const ojson& body) {
    return ApiReply{200, body.dump(-1, ' ', false, ojson::error_handler_t::replace)};
}

// The unsigned decimal text of a 64-bit offset, or nothing.
std::optional<std::uint64_t> decimal_u64(const std::string& text) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const unsigned d = static_cast<unsigned>(c - '0');
        if (v > (UINT64_MAX - d) / 10) return std::nullopt;
        v = v * 10 + d;
    }
    return v;
}

ApiReply verdict_reply(const std::string& lease_id, const std::string& audit) {
    return json_reply({{"lease_id", lease_id}, {"accepted", audit.rfind("rejected", 0) != 0}, {"audit", audit}});
}

// The replies for a lease a complete cannot use, shared by the look before the checks and the
// one inside the store's transaction.
ApiReply lease_refusal(CompletionContext::Kind kind, const std::string& lease_id) {
    switch (kind) {
        case CompletionContext::Kind::unknown: return error_reply(404, "unknown lease " + lease_id);
        case CompletionContext::Kind::other_worker: return error_reply(403, "lease " + lease_id + " belongs to another worker");
        case CompletionContext::Kind::settled:
            return error_reply(409, "the unit of lease " + lease_id + " is already settled");
        case CompletionContext::Kind::superseded:
            return error_reply(409, "lease " + lease_id + " expired and its unit is leased again");
        case CompletionContext::Kind::answered:
            return error_reply(409, "lease " + lease_id + " already has a different result");
        case CompletionContext::Kind::open: break;
    }
    return error_reply(500, "lease " + lease_id + " has no refusal");
}

// The result object as the worker wrote it: the worker's body is {"result":RECORD}, and the
// record is kept byte for byte when that is what came; any other shape is kept as parsed.
std::string record_as_sent(const std::string& body, const ojson& result) {
    static constexpr std::string_view kHead = "{\"result\":";
    if (body.size() > kHead.size() + 1 && body.compare(0, kHead.size(), kHead) == 0 && body.back() == '}') {
        const std::string raw = body.substr(kHead.size(), body.size() - kHead.size() - 1);
        const ojson again = ojson::parse(raw, nullptr, false);
        if (!again.is_discarded() && again == result) return raw;
    }
    return result.dump(-1, ' ', false, ojson::error_handler_t::replace);
}

}  // namespace

ApiReply Api::acquire(const Call& call) {
    std::string error;
    const auto doc = read_json_object(call.request.body, error);
    if (!doc) return error_reply(400, error);
    const auto rate = number_member(*doc, "starts_per_second", error);
    const auto proof_hash = string_member(*doc, "proof_hash", kMaxWorkerTextBytes, error);
    if (!rate || !proof_hash) return error_reply(400, error);
    ClaimRequest request;
    request.worker_id = call.worker.worker_id;
    request.starts_per_second = *rate;
    request.proof_hash = *proof_hash;
    request.lease_timeout_ms = policy_.lease_timeout_ms;
    request.refused_hold_ms = policy_.refused_units_wait ? policy_.lease_timeout_ms : 0;
    request.lease_max_age_ms = policy_.lease_max_age_ms;
    request.set_aside_settles = !policy_.set_aside_waits_for_operator;
    request.network = network_key(call.request.address, policy_.trust.networks);
    const ClaimOutcome claim = store_.claim_unit(request);
    switch (claim.kind) {
        case ClaimOutcome::Kind::complete: return json_reply({{"complete", true}});
        case ClaimOutcome::Kind::busy: {
            if (claim.waits_for_operator) {
                // Not complete: those starts are unproven until the operator looks at them.
                ApiReply reply = error_reply(503, "the remaining units are set aside and wait for the operator; ask again later");
                reply.retry_after = kSetAsideRetryAfterSeconds;
                return reply;
            }
            ApiReply reply = error_reply(503, "every remaining unit is leased or waits for another worker; ask again later");
            reply.retry_after = kBusyRetryAfterSeconds;
            return reply;
        }
        case ClaimOutcome::Kind::granted: break;
    }
    return json_reply({{"lease_id", claim.lease_id},
                       {"begin", u128_to_decimal(claim.range.begin)},
                       {"end", end_to_decimal(claim.range.end, claim.range.end_is_2_128)},
                       {"complete", false}});
}

ApiReply Api::heartbeat(const Call& call) {
    const std::string& lease_id = call.lease_id;
    std::string error;
    const auto doc = read_json_object(call.request.body, error);
    if (!doc) return error_reply(400, error);
    const auto progress_text = string_member(*doc, "progress", kMaxWorkerTextBytes, error);
    if (!progress_text) return error_reply(400, error);
    const auto progress = decimal_u64(*progress_text);
    if (!progress) return error_reply(400, "progress must be a decimal string");
    using Kind = HeartbeatOutcome::Kind;
    switch (store_.heartbeat(call.worker.worker_id, lease_id, *progress, policy_.lease_timeout_ms).kind) {
        case Kind::unknown: return error_reply(404, "unknown lease " + lease_id);
        case Kind::other_worker: return error_reply(403, "lease " + lease_id + " belongs to another worker");
        case Kind::expired: return error_reply(409, "lease " + lease_id + " expired");
        case Kind::completed: return error_reply(409, "lease " + lease_id + " is already completed");
        case Kind::beyond_unit: return error_reply(400, "progress is beyond the end of the unit");
        case Kind::alive: break;
    }
    return json_reply({{"lease_id", lease_id}, {"progress", *progress_text}});
}

ApiReply Api::complete(const Call& call) {
    const std::string& lease_id = call.lease_id;
    std::string error;
    const auto doc = read_json_object(call.request.body, error);
    if (!doc) return error_reply(400, error);
    const auto result = doc->find("result");
    if (result == doc->end() || !result->is_object()) return error_reply(400, "the request body has no result object");

    const CompletionContext context = store_.completion_context(call.worker.worker_id, lease_id);
    if (context.kind == CompletionContext::Kind::answered && context.answered_body == call.request.body)
        return verdict_reply(lease_id, context.answered_audit);  // its reply was lost: the same again
    if (context.kind != CompletionContext::Kind::open) return lease_refusal(context.kind, lease_id);

    Submission submission;
    submission.worker_id = call.worker.worker_id;
    submission.lease_id = lease_id;
    submission.body = call.request.body;
    submission.record = record_as_sent(call.request.body, *result);
    submission.comparable = comparable_text(*result);
    submission.set_aside_after = policy_.trust.set_aside_after;
    submission.network = network_key(call.request.address, policy_.trust.networks);
    submission.every_refusal_counts = !policy_.set_aside_waits_for_operator;
    const std::uint64_t starts = unit_size(context.range);
    const StructureCheck structure = check_structure(context.range, *result);
    submission.passed = structure.passed;
    submission.reason = structure.reason;
    if (structure.passed && recompute_budget_.take(starts)) {
        // Other requests go on meanwhile: no transaction is open while the checksums are made.
        const auto began = std::chrono::steady_clock::now();
        submission.reason = checksum_mismatch(context.range, structure.checksum_sum, structure.checksum_xor);
        recompute_budget_.spent(starts, std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
        submission.passed = submission.reason.empty();
    }
    if (submission.passed)
        submission.needs_confirmation = needs_confirmation(policy_.trust, context, starts, random_fraction());

    const SubmissionOutcome outcome = store_.submit_result(submission);
    if (outcome.kind == SubmissionOutcome::Kind::recorded) {
        metrics_.count_result(verdict_of_audit(outcome.audit));
        if (outcome.copies_disagree) metrics_.count_mismatch();
    }
    switch (outcome.kind) {
        case SubmissionOutcome::Kind::recorded:
        case SubmissionOutcome::Kind::answered: return verdict_reply(lease_id, outcome.audit);
        case SubmissionOutcome::Kind::conflict: return lease_refusal(CompletionContext::Kind::answered, lease_id);
        case SubmissionOutcome::Kind::unknown: return lease_refusal(CompletionContext::Kind::unknown, lease_id);
        case SubmissionOutcome::Kind::other_worker: return lease_refusal(CompletionContext::Kind::other_worker, lease_id);
        case SubmissionOutcome::Kind::superseded: return lease_refusal(CompletionContext::Kind::superseded, lease_id);
        case SubmissionOutcome::Kind::settled: return lease_refusal(CompletionContext::Kind::settled, lease_id);
    }
    return error_reply(500, "unknown outcome of lease " + lease_id);
}

}  // namespace pelorin::server
