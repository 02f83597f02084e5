#include "state/flat_json_object.hpp"

#include "state/whole_file.hpp"

namespace pelorin {
namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    FlatObject object() {
        blanks();
        if (at_ == text_.size()) throw NotFlatObject("it is empty");
        expect('{');
        FlatObject members;
        blanks();
        if (peek() == '}') {
            ++at_;
        } else {
            for (;;) {
                blanks();
                std::string key = string();
                blanks();
                expect(':');
                blanks();
                FlatValue value = this->value();
                if (!members.emplace(key, std::move(value)).second) throw NotFlatObject("it holds " + key + " twice");
                blanks();
                if (peek() == '}') {
                    ++at_;
                    break;
                }
                expect(',');
            }
        }
        blanks();
        if (at_ != text_.size()) malformed();
        return members;
    }

private:
    [[noreturn]] void malformed() const {
        if (at_ >= text_.size()) throw NotFlatObject("it is cut short");
        throw NotFlatObject("it is malformed at byte " + std::to_string(at_ + 1));
    }

    // The next character, or NUL at the end (never a valid token start here).
    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

    void expect(char c) {
        if (peek() != c) malformed();
        ++at_;
    }

    void blanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }

    std::string string() {
        expect('"');
        const std::size_t first = at_;
        for (; at_ < text_.size() && text_[at_] != '"'; ++at_) {
            const auto c = static_cast<unsigned char>(text_[at_]);
            if (c < 0x20 || c == '\\') malformed();
        }
        if (at_ >= text_.size()) malformed();
        return std::string(text_.substr(first, at_++ - first));
    }

    FlatValue value() {
        const char c = peek();
        if (c == '"') return FlatValue{FlatValue::Kind::text, string()};
        if (c >= '0' && c <= '9') {
            const std::size_t first = at_;
            while (peek() >= '0' && peek() <= '9') ++at_;
            // JSON has no leading zeros, and this program writes no fractions or signs.
            if (text_[first] == '0' && at_ - first > 1) {
                at_ = first + 1;
                malformed();
            }
            return FlatValue{FlatValue::Kind::number, std::string(text_.substr(first, at_ - first))};
        }
        for (const std::string_view word : {std::string_view("true"), std::string_view("false")}) {
            if (text_.substr(at_, word.size()) == word) {
                at_ += word.size();
                return FlatValue{FlatValue::Kind::boolean, std::string(word)};
            }
            // A word cut off by the end of the file.
            if (word.substr(0, text_.size() - at_) == text_.substr(at_) && at_ < text_.size()) {
                at_ = text_.size();
                malformed();
            }
        }
        malformed();
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

FlatObject read_flat_json_object(std::string_view text) { return Reader(text).object(); }

namespace {

FlatFileLoad too_large() {
    return FlatFileLoad{std::nullopt, "it is larger than " + std::to_string(kSmallFileLimit) + " bytes"};
}

}  // namespace

FlatFileLoad read_flat_json_file(const std::filesystem::path& path) {
    const SmallFile file = read_small_file(path, kSmallFileLimit);
    if (file.too_large) return too_large();
    if (!file.bytes) return {};
    return flat_json_load(*file.bytes);
}

FlatFileLoad flat_json_load(std::string_view text) {
    if (text.size() > kSmallFileLimit) return too_large();
    try {
        return FlatFileLoad{read_flat_json_object(text), {}};
    } catch (const NotFlatObject& e) {
        return FlatFileLoad{std::nullopt, e.what()};
    }
}

}  // namespace pelorin
