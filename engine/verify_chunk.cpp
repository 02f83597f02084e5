#include "engine/verify_chunk.hpp"

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "engine/check_start.hpp"
#include "engine/chunk_tally.hpp"
#include "engine/checksum_span.hpp"
#include "engine/mix64.hpp"
#include "engine/piece_stream.hpp"
#include "engine/proof_table.hpp"
#include "engine/survivor_lists.hpp"
#include "engine/table_block.hpp"
#include "engine/walk_u64.hpp"
#include "wideint/decimal.hpp"

namespace pelorin {
namespace {

enum class Check { plain, fused, shortcut };

struct Flavour {
    Check check = Check::shortcut;
    bool sieve = false;
    bool table = false;
};

Flavour flavour_of(std::string_view name) {
    Flavour f;
    if (name == "scalar") f.check = Check::plain;
    else if (name == "fused") f.check = Check::fused;
    f.sieve = name == "cpu-sieve" || name == "hybrid-experimental" || name == "record-recursive";
    f.table = name == "record-recursive";
    return f;
}

bool run_check(U128 s, Check check, std::uint64_t& steps, bool& escalated) {
    if (check == Check::fused) return check_start_fused(s, steps, escalated);
    return check_start(s, check == Check::shortcut, steps, escalated);
}

// The per-start accounting, one start at a time. Returns false on a counterexample, after
// marking the record invalid; the caller stops there.
bool account_start(U128 s, const Flavour& f, Tally& t, UnitResult& r) {
    ++t.checked;
    const std::uint64_t c = start_checksum(s);
    t.sum += c;
    t.xor_ ^= c;
    if (s == U128{1, 0} || (f.sieve && excluded(s, f.table))) {
        ++t.exclusions;
        return true;
    }
    ++t.candidates;
    std::uint64_t steps = 0;
    bool escalated = false;
    if (!run_check(s, f.check, steps, escalated)) {
        r.valid = false;
        r.message = "counterexample or invalid start at " + u128_to_decimal(s);
        return false;
    }
    t.completed(escalated, s.hi != 0, steps);
    return true;
}

// Walk one start known to be at least 2 (so the check cannot report an invalid start).
inline void walk(U128 s, Check check, Tally& t) {
    std::uint64_t steps = 0;
    bool escalated = false;
    if (check == Check::shortcut) {
        if (s.hi == 0) walk_shortcut_u64(s.lo, steps, escalated);
        else walk_shortcut_from_wide(s, s, steps, escalated);
    } else if (s.hi == 0 && check == Check::plain) {
        walk_plain_u64(s.lo, steps, escalated);
    } else {
        run_check(s, check, steps, escalated);
    }
    t.completed(escalated, s.hi != 0, steps);
}

// Starts lo = first .. first + count - 1 with high limb hi, all inside one aligned block of
// 2^16 and above the first block: no start is 0 or 1 and every finite table entry is below
// them, so the survivor lists apply.
void verify_block(std::uint64_t hi, std::uint64_t first, std::uint64_t count, const Flavour& f, Tally& t,
                  PieceSliceKernel slices) {
    t.checked += count;
    const auto add = [&t](ChecksumPair cs) {
        t.sum += cs.sum;
        t.xor_ ^= cs.xor_;
    };
    if (!f.sieve) {
        add(checksum_span(mix64(hi), first, count));
        t.candidates += count;
        for (std::uint64_t i = 0; i < count; ++i) walk(U128{first + i, hi}, f.check, t);
        return;
    }
    // The block's checksums are taken in slices between its walks.
    ChecksumStream checksums(slices, mix64(hi), first, count);
    const std::uint64_t base = first & ~(kProofTableSize - 1);
    const std::uint64_t lo_r = first - base, hi_r = lo_r + count;  // residues [lo_r, hi_r)
    if (f.table) {
        const std::uint64_t walked = walk_table_block(hi, base, lo_r, hi_r, t, checksums);
        t.candidates += walked;
        t.exclusions += count - walked;
        add(checksums.finish());
        return;
    }
    const auto list = survivors(false, mod9(U128{base, hi}));
    auto it = std::lower_bound(list.begin(), list.end(), lo_r);
    const auto stop = hi_r >= kProofTableSize ? list.end() : std::lower_bound(it, list.end(), hi_r);
    const auto walked = static_cast<std::uint64_t>(stop - it);
    t.candidates += walked;
    t.exclusions += count - walked;
    for (; it != stop; ++it) {
        checksums.slice();
        walk(U128{base + *it, hi}, f.check, t);
    }
    add(checksums.finish());
}

struct ChunkStart {
    U128 first;
    bool end_is_2_128 = false;
    U128 end;
};

UnitResult start_record(const UnitRange& range, std::uint64_t offset, std::uint64_t count, const std::string& name,
                        ChunkStart& where) {
    UnitResult r;
    r.mode = "verify";
    r.backend = name;
    if (name == "record-recursive") r.proof_hash = proof_table_hash();
    bool over = false;
    where.first = add_u64(range.begin, offset, &over);
    if (over) throw std::overflow_error("work unit crosses 2^128");
    r.begin = u128_to_decimal(where.first);
    where.end = add_u64(where.first, count, &where.end_is_2_128);
    if (where.end_is_2_128) where.end = U128{};
    r.end = end_to_decimal(where.end, where.end_is_2_128);
    // The last start must stay below 2^128; a chunk that would pass it is refused whole.
    if (count > 0) {
        add_u64(where.first, count - 1, &over);
        if (over) throw std::overflow_error("work unit crosses 2^128");
    }
    return r;
}

}  // namespace

UnitResult verify_chunk(const UnitRange& range, std::uint64_t offset, std::uint64_t count, const std::string& name) {
    return detail::verify_chunk_with(range, offset, count, name, piece_slice_kernel());
}

UnitResult detail::verify_chunk_with(const UnitRange& range, std::uint64_t offset, std::uint64_t count,
                                     const std::string& name, PieceSliceKernel slices) {
    ChunkStart where;
    UnitResult r = start_record(range, offset, count, name, where);
    const Flavour f = flavour_of(name);
    Tally t;
    U128 s = where.first;
    std::uint64_t left = count;
    while (left > 0) {
        const std::uint64_t to_block_end = kProofTableSize - (s.lo & (kProofTableSize - 1));
        const std::uint64_t n = std::min(left, to_block_end);
        if (s.hi == 0 && s.lo < kProofTableSize) {
            // The first block holds 0, 1 and the starts at or below finite table entries.
            bool stopped = false;
            for (std::uint64_t i = 0; i < n && !stopped; ++i) stopped = !account_start(U128{s.lo + i, 0}, f, t, r);
            if (stopped) break;
        } else {
            verify_block(s.hi, s.lo, n, f, t, slices);
        }
        left -= n;
        if (left > 0) s = add_u64(s, n);
    }
    t.fold_into(r);
    return r;
}

UnitResult verify_chunk_reference(const UnitRange& range, std::uint64_t offset, std::uint64_t count,
                                  const std::string& name) {
    ChunkStart where;
    UnitResult r = start_record(range, offset, count, name, where);
    const Flavour f = flavour_of(name);
    Tally t;
    for (std::uint64_t i = 0; i < count; ++i)
        if (!account_start(add_u64(where.first, i), f, t, r)) break;
    t.fold_into(r);
    return r;
}

}  // namespace pelorin
