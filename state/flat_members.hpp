#pragma once
// The members of one of the program's own files, read strictly: present, of their type and
// sound, or the file is unusable. Each reader throws NotFlatObject with the reason ("it lacks
// offset", "its profile is not a number", "its begin holds a control character").
#include <cstdint>
#include <string>

#include "state/flat_json_object.hpp"
#include "wideint/biguint.hpp"

namespace pelorin {

class FlatMembers {
public:
    explicit FlatMembers(const FlatObject& members) : members_(members) {}

    bool has(const char* key) const { return members_.find(key) != members_.end(); }
    // A text that is written back into a file or sent to the coordinator: no control character.
    std::string text(const char* key) const;
    std::uint64_t number(const char* key) const;
    // A number within [low, high].
    std::uint64_t number_within(const char* key, std::uint64_t low, std::uint64_t high) const;
    bool boolean(const char* key) const;
    // A decimal text of any width.
    BigUint counter(const char* key) const;
    // A time in seconds: finite, not negative, not subnormal (it would not load again from
    // its %.12g text).
    double seconds(const char* key) const;

private:
    const std::string& member(const char* key, FlatValue::Kind kind, const char* what) const;

    const FlatObject& members_;
};

}  // namespace pelorin
