#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "engine/proof_table.hpp"
#include "engine/select_backend.hpp"
#include "engine/verify_range.hpp"

namespace pelorin {
namespace {

// A device family stood in by the CPU engine: the self-test range answers as the GPU's would
// (same counters and hash); the tuning range returns scripted records per block size.
struct FakeDevice {
    std::vector<std::uint32_t> blocks_run;
    std::vector<double> seconds;  // per candidate, in order
    std::vector<bool> valid;
    std::stop_source* stop_after_second = nullptr;
    std::vector<std::string> posted;

    SelectionHooks hooks(bool gpu) {
        SelectionHooks h;
        h.cuda_available = [gpu] { return gpu; };
        h.post_status = [this](const std::string& t) { posted.push_back(t); };
        h.run_backend = [this](const UnitRange& range, const BackendOptions& o) {
            if (range.begin == U128{1, 0}) {
                BackendOptions cpu = o;
                cpu.name = "record-recursive";
                return verify_range(range, cpu);
            }
            const std::size_t i = blocks_run.size();
            blocks_run.push_back(o.block_size);
            UnitResult r;
            r.checked = BigUint(1u << 26);
            r.elapsed_seconds = seconds.at(i);
            r.valid = valid.at(i);
            r.proof_hash = proof_table_hash();
            if (i == 1 && stop_after_second != nullptr) stop_after_second->request_stop();
            return r;
        };
        return h;
    }
};

TEST(SelectBackend, CpuFamilyRunsOnceAndCarriesTheTableHash) {
    std::vector<std::string> posted;
    SelectionHooks h;
    h.cuda_available = [] { return false; };
    h.post_status = [&](const std::string& t) { posted.push_back(t); };
    std::vector<std::string> runs;
    h.run_backend = [&](const UnitRange& r, const BackendOptions& o) {
        runs.push_back(o.name + "/" + std::to_string(o.block_size));
        return verify_range(r, o);
    };
    const BackendChoice c = select_backend(std::stop_token{}, h);
    EXPECT_EQ(c.options.name, "record-recursive");
    EXPECT_EQ(c.options.block_size, 256u);
    EXPECT_EQ(c.options.chunk_starts, 65536u);
    EXPECT_EQ(c.options.threads, 0u);
    EXPECT_EQ(c.options.sieve_bits, 24u);
    EXPECT_EQ(c.options.run_mode, "fast");
    EXPECT_EQ(c.proof_hash, proof_table_hash());
    EXPECT_GT(c.starts_per_second, 0.0);
    ASSERT_EQ(runs.size(), 2u);  // the self-test, then the one tuning run
    EXPECT_EQ(posted, std::vector<std::string>{"Self-test passed.\r\nOptimizing for this computer..."});
}

TEST(SelectBackend, GpuCandidatesInOrderTiesKeepTheEarlierInvalidNeverWins) {
    FakeDevice dev;
    dev.seconds = {0.2, 0.1, 0.1};
    dev.valid = {true, true, true};
    BackendChoice c = select_backend(std::stop_token{}, dev.hooks(true));
    EXPECT_EQ(dev.blocks_run, (std::vector<std::uint32_t>{128, 256, 512}));
    EXPECT_EQ(c.options.name, "cuda-recursive");
    EXPECT_EQ(c.options.block_size, 256u);
    EXPECT_DOUBLE_EQ(c.starts_per_second, double(1u << 26) / 0.1);

    FakeDevice fast_but_wrong;
    fast_but_wrong.seconds = {0.0, 0.5, 0.4};
    fast_but_wrong.valid = {false, true, true};
    c = select_backend(std::stop_token{}, fast_but_wrong.hooks(true));
    EXPECT_EQ(c.options.block_size, 512u);

    FakeDevice zero_time;
    zero_time.seconds = {0.0, 0.5, 0.4};
    zero_time.valid = {true, true, true};
    c = select_backend(std::stop_token{}, zero_time.hooks(true));
    EXPECT_DOUBLE_EQ(c.starts_per_second, double(1u << 26) * 1e9);
}

TEST(SelectBackend, Failures) {
    FakeDevice all_invalid;
    all_invalid.seconds = {0.1, 0.1, 0.1};
    all_invalid.valid = {false, false, false};
    try {
        select_backend(std::stop_token{}, all_invalid.hooks(true));
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "No correct backend passed autotuning");
    }
    std::stop_source stop;
    FakeDevice stopped;
    stopped.seconds = {0.1, 0.1, 0.1};
    stopped.valid = {true, true, true};
    stopped.stop_after_second = &stop;
    try {
        select_backend(stop.get_token(), stopped.hooks(true));
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Stopped");
    }
    EXPECT_EQ(stopped.blocks_run.size(), 2u);
}

TEST(SelectBackend, SelfTestCatchesAWrongAnswerBeforeSayingItPassed) {
    std::vector<std::string> posted;
    SelectionHooks h;
    h.cuda_available = [] { return false; };
    h.post_status = [&](const std::string& t) { posted.push_back(t); };
    h.run_backend = [](const UnitRange& r, const BackendOptions& o) {
        UnitResult res = verify_range(r, o);
        res.steps.add_u64(1);  // an engine that miscounts by one step
        return res;
    };
    try {
        select_backend(std::stop_token{}, h);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Self-test failed: record-recursive gave steps 258 on [1, 101), expected 257");
    }
    EXPECT_TRUE(posted.empty());
}

}  // namespace
}  // namespace pelorin
