#pragma once
// What a worker run needs from the program that shows it (the window, or the terminal): a
// status sink, the work-profile query, and the two flags the user's controls set. The stop
// request travels separately as a std::stop_token.
#include <atomic>
#include <string>

namespace pelorin {

class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // The text replaces the whole status panel. Returns at once; never waits on the display.
    virtual void post_status(std::string text) = 0;
    // Index of the chosen work profile: 0 balanced, 1 maximum, anything else quiet.
    virtual int selected_profile() = 0;

    std::atomic<bool> paused{false};   // set and cleared by the user; read between chunks
    std::atomic<bool> running{false};  // set by Start; the run clears it when it fails
};

}  // namespace pelorin
