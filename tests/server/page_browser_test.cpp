// The public page in a real browser: a real pelorin-coordinator holds a campaign with units in
// every state, made by real completes over TLS, and page_browser.py drives Debian's headless
// Chromium through chromium-driver against it (figures against status --json, charts drawn,
// a clean console, nothing from another origin, the operator's view, a refresh without a
// reload, the server gone). Screenshots stay in the build tree.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "tests/server/result_bodies.hpp"
#include "tests/support/coordinator_process.hpp"

namespace pelorin::test_support {
namespace {

using nlohmann::json;
using ojson = nlohmann::ordered_json;

// Units of 2^16 starts from 2^32: ten of them.
constexpr std::uint64_t kUnit = 1 << 16;
constexpr const char* kBegin = "4294967296";
constexpr const char* kEnd = "4295622656";

std::string unit_begin(int index) { return std::to_string(4294967296ull + kUnit * static_cast<std::uint64_t>(index)); }

// The base64 SHA-256 of the certificate's SubjectPublicKeyInfo: what Chromium's
// --ignore-certificate-errors-spki-list trusts, and nothing else.
std::string spki_hash(const std::filesystem::path& certificate) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(certificate.c_str(), "r"), std::fclose);
    if (!file) throw std::runtime_error("cannot read " + certificate.string());
    std::unique_ptr<X509, void (*)(X509*)> x509(PEM_read_X509(file.get(), nullptr, nullptr, nullptr), X509_free);
    if (!x509) throw std::runtime_error("no certificate in " + certificate.string());
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(x509.get()), &der);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_length = 0;
    EVP_Digest(der, static_cast<std::size_t>(length), digest, &digest_length, EVP_sha256(), nullptr);
    OPENSSL_free(der);
    unsigned char text[64];
    const int text_length = EVP_EncodeBlock(text, digest, static_cast<int>(digest_length));
    return std::string(reinterpret_cast<char*>(text), static_cast<std::size_t>(text_length));
}

// A unit's honest record, as a worker sends it.
std::string honest(const json& lease) { return verified_body(lease.value("begin", ""), lease.value("end", "")); }

// The honest record with another step count: it passes every check, and disagrees with an
// honest copy.
std::string disagreeing(const json& lease) {
    ojson body = ojson::parse(honest(lease));
    body["result"]["steps"] = std::to_string(std::stoull(body["result"]["steps"].get<std::string>()) + 1);
    return body.dump();
}

// A record of one start too few: refused by the structure check.
std::string short_by_one() { return body_of(made_up_record(kUnit - 1, 1, 1)); }

struct Worker {
    const CoordinatorProcess& c;
    TestWorker id;

    json acquire() const {
        const HttpsReply r =
            call_as(c, id, "POST", "/api/v1/leases/acquire", R"({"starts_per_second":1e+06,"proof_hash":"h"})");
        EXPECT_EQ(r.status, 200) << id.worker_id << ": " << r.body;
        return r.status == 200 ? json::parse(r.body) : json::object();
    }
    std::string complete(const json& lease, const std::string& body) const {
        const HttpsReply r = call_as(c, id, "POST", "/api/v1/leases/" + lease.value("lease_id", "") + "/complete", body);
        EXPECT_EQ(r.status, 200) << id.worker_id << ": " << r.body;
        return r.status == 200 ? json::parse(r.body).value("audit", "") : "";
    }
    // Acquires a unit and completes it honestly.
    std::string work() const {
        const json lease = acquire();
        return complete(lease, honest(lease));
    }
};

TEST(PageInBrowser, ShowsTheCampaignAsStatusDoesAndTheOperatorsTroubles) {
    CoordinatorProcess c;
    ASSERT_EQ(c.command({"campaign", "add", "--begin", kBegin, "--end", kEnd, "--unit-size", "2^16", "--name", "main"}).status, 0);
    // A second campaign, paused before it began: the whole range up to 2^128.
    ASSERT_EQ(c.command({"campaign", "add", "--begin", "2^72", "--end", "2^128", "--unit-size", "2^40", "--name", "whole"}).status, 0);
    ASSERT_EQ(c.command({"campaign", "pause", "whole"}).status, 0);
    // A new worker's first result is copied; nothing else is. Two refusals set a unit aside.
    c.serve({"--difficulty-bits", "4", "--new-worker-results", "1", "--replication-share", "0", "--fast-result-slack", "0",
             "--register-rate", "0", "--worker-rate", "0", "--set-aside-after", "2"});
    // Each on a network of its own, so each may copy the others.
    const Worker a{c, register_test_worker(c, "a", "127.0.1.2")}, b{c, register_test_worker(c, "b", "127.0.2.2")},
        d{c, register_test_worker(c, "d", "127.0.3.2")}, e{c, register_test_worker(c, "e", "127.0.4.2")};

    // Validated: unit 0 (a's first result, copied by b), 1 and 2.
    EXPECT_EQ(a.work(), "pending: waiting for a copy from another worker");
    EXPECT_EQ(b.work(), "accepted");
    EXPECT_EQ(a.work(), "accepted");
    EXPECT_EQ(b.work(), "accepted");
    // Set aside: unit 3, refused to a and b, whose refusals count: they have validated results
    // (a refused unit waits for other workers).
    for (const Worker& w : {a, b}) {
        const json lease = w.acquire();
        EXPECT_EQ(lease.value("begin", ""), unit_begin(3)) << w.id.worker_id;
        EXPECT_EQ(w.complete(lease, short_by_one()).rfind("rejected: ", 0), 0u) << w.id.worker_id;
    }
    // A replication mismatch, waiting for a third worker: unit 4.
    EXPECT_EQ(d.work(), "pending: waiting for a copy from another worker");
    const json copy = b.acquire();
    EXPECT_EQ(copy.value("begin", ""), unit_begin(4));
    EXPECT_EQ(b.complete(copy, disagreeing(copy)), "pending: waiting for a copy from another worker");
    // Leased: unit 5, held by d; its complete is made during the browser's visit.
    const json held = d.acquire();
    EXPECT_EQ(held.value("begin", ""), unit_begin(5));
    // Banned: e, whose unit goes back to the pool.
    e.acquire();
    ASSERT_EQ(c.command({"workers", "ban", e.id.worker_id}).status, 0);

    const json status = json::parse(c.command({"status", "--json"}).out);
    const json& units = status.at("campaigns").at(0).at("units");
    for (const char* state : {"validated", "pending", "leased", "set_aside", "open"})
        EXPECT_GT(units.at(state).get<int>(), 0) << "no unit is " << state << ": " << status.dump();

    const std::filesystem::path body_file = c.folder() / "complete.json";
    std::ofstream(body_file) << honest(held);
    const std::filesystem::path screenshots = PELORIN_PAGE_SCREENSHOTS;
    const CommandResult run = run_program(
        {"/usr/bin/python3", PELORIN_PAGE_BROWSER_SCRIPT, "--origin", "https://127.0.0.1:" + std::to_string(c.port()),
         "--spki", spki_hash(c.certificate()), "--ca", c.ca_file().string(), "--coordinator", coordinator_binary(),
         "--state-dir", c.folder().string(), "--set-aside-begin", unit_begin(3), "--mismatch-begin", unit_begin(4),
         "--banned-worker", e.id.worker_id, "--complete-path", "/api/v1/leases/" + held.value("lease_id", "") + "/complete",
         "--complete-token", d.id.token, "--complete-body-file", body_file.string(), "--server-pid",
         std::to_string(c.pid()), "--screenshots", screenshots.string()},
        c.folder() / "command.out", c.folder() / "command.err");
    // The browser is installed by scripts/setup.sh: a machine without it fails here, it
    // does not skip.
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(c.stop(), 0) << "the server ended badly after the browser's SIGTERM";
    for (const char* shot : {"desktop.png", "phone.png", "operator.png", "offline-phone.png"})
        EXPECT_TRUE(std::filesystem::exists(screenshots / shot)) << shot;
}

}  // namespace
}  // namespace pelorin::test_support
