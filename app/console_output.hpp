#pragma once
// Standard output as the status panel of `run`: whether it is a terminal that can be redrawn
// in place, set up for UTF-8 text (the status texts hold U+00B7) for as long as this lives.
#include <cstdio>
#include <memory>

namespace pelorin {

class ConsoleOutput {
public:
    explicit ConsoleOutput(std::FILE* out);
    ~ConsoleOutput();
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;
    // A terminal that understands the cursor movements of an in-place redraw.
    bool redraw_in_place() const { return redraw_; }

private:
    struct Saved;
    std::unique_ptr<Saved> saved_;  // what the constructor changed, put back by the destructor
    bool redraw_ = false;
};

}  // namespace pelorin
