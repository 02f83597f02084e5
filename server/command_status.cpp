#include "server/command_status.hpp"

#include <iostream>
#include <stdexcept>

namespace pelorin::server {

int run_reporting_errors(const std::function<int()>& body) {
    try {
        return body();
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

}  // namespace pelorin::server
