// pelorin-dev-coordinator: a local HTTPS coordinator for development, tests and the demo.
#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>

#include "tools/dev-coordinator/atomic_file.hpp"
#include "tools/dev-coordinator/coordinator_service.hpp"
#include "tools/dev-coordinator/https_server.hpp"
#include "tools/dev-coordinator/ledger.hpp"
#include "tools/dev-coordinator/limits.hpp"
#include "tools/dev-coordinator/stop_signals.hpp"
#include "tools/dev-coordinator/tls_material.hpp"
#include "wideint/text_forms.hpp"

namespace {

using namespace pelorin;
using namespace pelorin::devcoord;

struct Arguments {
    int port = 8443;
    std::string state_dir = "dev-coordinator-state";
    unsigned difficulty_bits = 18;
    // Sixteen units of 2^32 starts above 2^32: a few seconds of work each on a desktop.
    std::string begin = "2^32";
    std::string end = "73014444032";
    std::string unit_size = "2^32";
    double lease_timeout = 120;
    bool summary = false;
};

int print_summary(const std::filesystem::path& state_dir) {
    std::string text;
    if (!read_file(CoordinatorService::ledger_path(state_dir), text)) {
        std::cerr << "no ledger in " << std::filesystem::absolute(state_dir).string() << '\n';
        return 1;
    }
    std::cout << ledger_summary(ledger_from_json(text)) << std::flush;
    return 0;
}

int serve(const Arguments& args, bool campaign_explicit) {
    const std::filesystem::path state_dir = std::filesystem::absolute(args.state_dir);
    std::filesystem::create_directories(state_dir);
    // Tokens and keys live here: the owner only.
    std::filesystem::permissions(state_dir, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);

    ServiceOptions options;
    options.state_dir = state_dir;
    options.campaign.begin = parse_u128(args.begin);
    const EndBound end = parse_end_bound(args.end);
    options.campaign.end = end.value;
    options.campaign.end_is_2_128 = end.end_is_2_128;
    const U128 unit = parse_u128(args.unit_size);
    if (unit.hi != 0) throw std::overflow_error("unit size exceeds 64 bits");
    options.unit_size = unit.lo;
    options.campaign_explicit = campaign_explicit;
    options.difficulty_bits = args.difficulty_bits;
    options.lease_timeout_seconds = args.lease_timeout;

    StopSignals signals;  // before any thread starts
    CoordinatorService service(options);
    const TlsFiles tls = ensure_tls_material(state_dir);
    std::cout << "CA certificate: " << tls.ca_certificate.string() << std::endl;
    HttpsServer server(service, tls);
    const int port = server.bind(args.port);
    std::cout << "Listening on https://127.0.0.1:" << port << std::endl;
    signals.on_signal([&server] { server.stop(); });
    if (!server.run()) throw std::runtime_error("the listener on 127.0.0.1:" + std::to_string(port) + " failed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Local HTTPS coordinator for development and tests (loopback only)"};
    Arguments args;
    app.add_option("--port", args.port, "Port on 127.0.0.1; 0 picks a free one")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    app.add_option("--state-dir", args.state_dir, "Folder of the ledger, the workers and the certificates")
        ->capture_default_str();
    app.add_option("--difficulty-bits", args.difficulty_bits, "Leading zero bits the registration puzzle asks for")
        ->check(CLI::Range(0u, kMaxDifficultyBits))
        ->capture_default_str();
    auto* begin = app.add_option("--begin", args.begin, "First start of the campaign (decimal, 0x hex or 2^k)")
                      ->capture_default_str();
    auto* end = app.add_option("--end", args.end, "Exclusive end of the campaign (as --begin, or 2^128)")
                    ->capture_default_str();
    auto* unit = app.add_option("--unit-size", args.unit_size, "Starts per unit (at most 2^64 - 1)")
                     ->capture_default_str();
    app.add_option("--lease-timeout", args.lease_timeout,
                   "Seconds without a heartbeat after which a lease goes back to the pool")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    app.add_flag("--summary", args.summary, "Print the ledger of --state-dir and exit");
    app.footer(
        "Prints \"CA certificate: <path>\" and \"Listening on https://127.0.0.1:<port>\" once ready.\n"
        "Exit status: 0 stopped by a signal, 1 failure, 2 bad arguments.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }
    // Errors carry their own message; bad input is status 2, anything else 1.
    try {
        if (args.summary) return print_summary(args.state_dir);
        const bool campaign_explicit = begin->count() + end->count() + unit->count() > 0;
        return serve(args, campaign_explicit);
    } catch (const std::invalid_argument& e) {
        std::cerr << e.what() << '\n';
        return 2;
    } catch (const std::overflow_error& e) {
        std::cerr << e.what() << '\n';
        return 2;
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
}
