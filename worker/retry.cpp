#include "worker/retry.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "coordinator/https_transport.hpp"
#include "coordinator/identity_store.hpp"
#include "state/data_folder.hpp"
#include "worker/lease_cycle.hpp"

namespace pelorin {

bool waiting_can_help(const std::exception& failure) {
    if (dynamic_cast<const LeaseLost*>(&failure)) return true;
    const auto* https = dynamic_cast<const HttpsError*>(&failure);
    if (!https) return false;
    switch (https->failure()) {
        case HttpsFailure::network: return true;
        case HttpsFailure::status: {
            const std::uint32_t s = https->status();
            return s == 408 || s == 429 || (s >= 500 && s <= 599);
        }
        default: return false;
    }
}

bool token_refused(const std::exception& failure) {
    const auto* https = dynamic_cast<const HttpsError*>(&failure);
    return https && https->failure() == HttpsFailure::status && https->status() == 401;
}

std::string what_to_do(const std::exception& failure) {
    const std::string folder = [] {
        try {
            return path_text(data_folder_location());
        } catch (const std::exception&) {
            return std::string("the data folder");
        }
    }();
    const std::string message = failure.what();
    // The data folder's files, and the folder itself, that could not be written.
    if (message.rfind("Could not write local checkpoint", 0) == 0 || message.rfind("Could not commit local checkpoint", 0) == 0 ||
        message.rfind(kIdentityNotStored, 0) == 0 || dynamic_cast<const std::filesystem::filesystem_error*>(&failure))
        return "Check that " + folder + " can be written and its disk has room.";
    if (message.rfind("Self-test failed", 0) == 0)
        return "This computer computed a known range wrongly: check its cooling, clock settings and memory.";
    if (const auto* https = dynamic_cast<const HttpsError*>(&failure)) {
        switch (https->failure()) {
            case HttpsFailure::untrusted:
                return "This computer does not trust the coordinator's certificate: check the system date and time. " +
                       trust_advice();
            case HttpsFailure::too_large:
                return "The coordinator's reply was not understood: look for an update of this worker.";
            case HttpsFailure::status:
                if (https->status() == 401 || https->status() == 403)
                    return "The coordinator does not accept this worker's identity: to register anew, remove "
                           "identity.bin from " + folder + ".";
                if (https->status() == 400) return "The coordinator refused a request: look for an update of this worker.";
                return {};
            default: return {};
        }
    }
    // The readers of replies report malformed text this way (a damaged checkpoint is set
    // aside by the lease cycle and never ends a run).
    if (dynamic_cast<const std::invalid_argument*>(&failure) || dynamic_cast<const std::overflow_error*>(&failure))
        return "A reply of the coordinator could not be read: look for an update of this worker.";
    return {};
}

std::optional<std::chrono::seconds> requested_delay(const std::exception& failure) {
    const auto* https = dynamic_cast<const HttpsError*>(&failure);
    return https ? https->retry_after() : std::nullopt;
}

Backoff::Backoff(RetryTiming timing, std::uint64_t seed) : timing_(timing), random_(seed) {}

std::chrono::nanoseconds Backoff::next(std::optional<std::chrono::seconds> requested) {
    using std::chrono::nanoseconds;
    const nanoseconds longest = timing_.longest_wait;
    // Doubling in floating point: no shift can overflow however many faults come in a row.
    const double nominal = std::min(static_cast<double>(timing_.first_wait.count()) * std::exp2(std::min(faults_, 62u)),
                                    static_cast<double>(longest.count()));
    ++faults_;
    std::uniform_real_distribution<double> spread(0.75, 1.25);
    nanoseconds wait(static_cast<nanoseconds::rep>(std::min(nominal * spread(random_),
                                                             static_cast<double>(longest.count()))));
    if (requested) wait = std::max(wait, std::min<nanoseconds>(*requested, longest));
    return wait;
}

}  // namespace pelorin
