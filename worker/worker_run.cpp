#include "worker/worker_run.hpp"

#include <exception>

#include "coordinator/coordinator_api.hpp"
#include "coordinator/environment.hpp"
#include "coordinator/identity.hpp"
#include "coordinator/module_path.hpp"
#include "coordinator/registration.hpp"
#include "sha256/sha256.hpp"
#include "engine/select_backend.hpp"
#include "gpu/cuda_backend.hpp"
#include "gpu/run_backend.hpp"
#include "worker/status_text.hpp"

namespace pelorin {

std::string hardware_text() {
    const auto processor = environment_variable("PROCESSOR_IDENTIFIER");
    return (processor ? *processor : std::string("CPU")) + cuda_device_description();
}

void worker_run(std::stop_token stop, FrontEnd& fe, const LeaseCycleTiming& timing) {
    try {
        const std::string build_hash = sha256_file_hex(module_path());
        const std::string hardware_hash = sha256_hex(hardware_text());
        WorkerIdentity identity = load_identity();

        SelectionHooks hooks;
        hooks.cuda_available = [] { return cuda_available(); };
        hooks.run_backend = run_backend;
        hooks.post_status = [&fe](const std::string& text) { fe.post_status(text); };
        const BackendChoice choice = select_backend(stop, hooks);
        fe.post_status(optimization_complete_text(choice.options.name, choice.starts_per_second));

        check_secure_connection();
        fe.post_status(kConnectedText);
        if (identity.token.empty()) identity = register_worker(identity, build_hash, hardware_hash, hooks.post_status);
        report_benchmark(identity.token, build_hash, choice.options.name, choice.starts_per_second);

        std::uint64_t units_completed = 0;
        run_lease_cycle(stop, fe, identity.token, choice, units_completed, timing);
    } catch (const std::exception& e) {
        fe.post_status(stopped_text(e.what()));
        fe.running = false;
    }
}

}  // namespace pelorin
