// pelorin-coordinator: the campaign server and the operator's commands on its database.
#include <CLI/CLI.hpp>

#include <iostream>
#include <stdexcept>

#include "server/command_status.hpp"
#include "server/operator_commands.hpp"
#include "server/policy_flags.hpp"
#include "server/serve_command.hpp"
#include "server/store/database_url.hpp"
#include "server/store/open_store.hpp"

namespace {

using namespace pelorin::server;

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Campaign server of the 3x+1 verification campaign: the worker API over TLS, and the operator's "
                 "commands on its database",
                 "pelorin-coordinator"};
    app.set_version_flag("--version", "pelorin-coordinator " PELORIN_VERSION, "Print the program's name and version and exit");
    // Options of the program as a whole may also follow the subcommand.
    app.fallthrough();
    std::string database;
    std::string state_dir;
    app.add_option("--database", database,
                   "The database: sqlite:PATH (default: sqlite:coordinator.db in the data folder)")
        ->type_name("URL");
    app.add_option("--state-dir", state_dir,
                   "The data folder (default: systemd's STATE_DIRECTORY, else the working folder)")
        ->type_name("DIR");
    app.require_subcommand(1);
    app.footer("Exit status: 0 done, 1 failure, 2 bad arguments or input.");

    ServeOptions serve_options;
    serve_options.policy = production_policy();
    std::string listen;
    CLI::App* serve_cmd = app.add_subcommand("serve", "Serve the worker API, the public page and the metrics over TLS "
                                                      "until SIGTERM; SIGHUP reloads the certificate and key");
    serve_cmd->add_option("--listen", listen, "Address and port, for example 0.0.0.0:443 or [::]:443")
        ->type_name("ADDR:PORT")
        ->required();
    serve_cmd->add_option("--tls-cert", serve_options.certificate, "PEM file: the certificate, then any intermediates")
        ->type_name("FILE")
        ->required();
    serve_cmd->add_option("--tls-key", serve_options.key, "PEM file: the certificate's private key")
        ->type_name("FILE")
        ->required();
    std::string metrics_listen;
    serve_cmd->add_option("--metrics-listen", metrics_listen,
                          "Serve /metrics over plain HTTP here instead of on the main port, for a monitoring system on "
                          "the same host (for example 127.0.0.1:9464)")
        ->type_name("ADDR:PORT");
    add_policy_flags(*serve_cmd, serve_options.policy);

    CLI::App* campaign_cmd = app.add_subcommand("campaign", "Add, pause, resume or reopen a campaign");
    campaign_cmd->require_subcommand(1);
    CampaignArgs campaign;
    CLI::App* add_cmd = campaign_cmd->add_subcommand("add", "Add a campaign: a range of starts within [0, 2^128)");
    add_cmd->add_option("--begin", campaign.begin, "First start (decimal, 0x hex or 2^k)")->required();
    add_cmd->add_option("--end", campaign.end, "Exclusive end (as --begin, or 2^128)")->required();
    add_cmd->add_option("--unit-size", campaign.unit_size, "Starts per unit (at most 2^64 - 1)")->required();
    add_cmd->add_option("--name", campaign.name, "Its name (default: campaign-N)")->type_name("TEXT");
    std::string campaign_name;
    CLI::App* pause_cmd = campaign_cmd->add_subcommand("pause", "Stop handing out new units of a campaign");
    pause_cmd->add_option("NAME", campaign_name, "The campaign")->required();
    CLI::App* resume_cmd = campaign_cmd->add_subcommand("resume", "Hand out units of a paused campaign again");
    resume_cmd->add_option("NAME", campaign_name, "The campaign")->required();
    CLI::App* reopen_cmd = campaign_cmd->add_subcommand(
        "reopen", "Hand out a campaign's set-aside units again; their earlier refusals no longer count toward setting them aside");
    reopen_cmd->add_option("NAME", campaign_name, "The campaign")->required();

    bool json = false;
    CLI::App* status_cmd = app.add_subcommand("status", "Campaigns, their units and pace, and the workers of the last hour");
    status_cmd->add_flag("--json", json, "One JSON object");

    CLI::App* workers_cmd = app.add_subcommand("workers", "Registered workers; ban or unban one");
    workers_cmd->add_flag("--json", json, "One JSON object");
    std::string worker_id;
    CLI::App* ban_cmd = workers_cmd->add_subcommand("ban", "Refuse a worker (403) and put its units in progress back");
    ban_cmd->add_option("ID", worker_id, "The worker, as w-N")->required();
    CLI::App* unban_cmd = workers_cmd->add_subcommand("unban", "Accept a banned worker again");
    unban_cmd->add_option("ID", worker_id, "The worker, as w-N")->required();

    std::string since;
    unsigned set_aside_after = production_policy().trust.set_aside_after;
    reopen_cmd->add_option("--set-aside-after", set_aside_after, "As for serve: when a reopened unit is set aside again")
        ->check(CLI::Range(1u, 1000u))
        ->capture_default_str();
    CLI::App* invalidate_cmd =
        app.add_subcommand("invalidate", "Set aside a worker's results and hand their units out again");
    invalidate_cmd->add_option("--worker", worker_id, "The worker, as w-N")->required();
    invalidate_cmd->add_option("--since", since, "Only results received since then (2026-12-10T14:00:31Z or 2026-12-10)")
        ->type_name("TIME");
    invalidate_cmd->add_option("--set-aside-after", set_aside_after, "As for serve: when a weighed-again unit is set aside")
        ->check(CLI::Range(1u, 1000u))
        ->capture_default_str();

    CLI::App* export_cmd = app.add_subcommand("export", "One line per validated unit, with its result record");
    export_cmd->add_flag("--json", json, "One JSON object per line");

    std::string backup_file;
    CLI::App* backup_cmd = app.add_subcommand("backup", "Copy the SQLite database consistently while the server runs");
    backup_cmd->add_option("FILE", backup_file, "A new file")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {  // --help, --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    // Errors carry the system's own message, caught here once; bad input is status 2.
    return run_reporting_errors([&] {
        const DatabaseUrl url = database.empty() ? default_database_url(state_dir) : parse_database_url(database);
        if (serve_cmd->parsed()) {
            serve_options.listen = parse_listen_address(listen);
            if (!metrics_listen.empty()) serve_options.metrics_listen = parse_listen_address(metrics_listen);
        }
        const auto store = open_store(url);
        if (serve_cmd->parsed()) return serve(*store, serve_options);
        if (add_cmd->parsed()) campaign_add(*store, campaign, std::cout);
        else if (pause_cmd->parsed()) campaign_pause(*store, campaign_name, true, std::cout);
        else if (resume_cmd->parsed()) campaign_pause(*store, campaign_name, false, std::cout);
        else if (reopen_cmd->parsed()) campaign_reopen(*store, campaign_name, set_aside_after, std::cout);
        else if (status_cmd->parsed()) print_status(*store, json, std::cout);
        else if (ban_cmd->parsed()) ban_worker(*store, worker_id, true, std::cout);
        else if (unban_cmd->parsed()) ban_worker(*store, worker_id, false, std::cout);
        else if (workers_cmd->parsed()) print_workers(*store, json, std::cout);
        else if (invalidate_cmd->parsed()) invalidate_worker(*store, worker_id, since, set_aside_after, std::cout);
        else if (export_cmd->parsed()) export_units(*store, json, std::cout);
        else if (backup_cmd->parsed()) backup_database(*store, backup_file, std::cout);
        return 0;
    });
}
