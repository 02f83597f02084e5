#include "worker/front_end.hpp"

#include "worker/status_text.hpp"

namespace pelorin {

void FrontEnd::unit_accepted(const std::string& audit, const InstallationTotals&) {
    post_status(unit_accepted_text(audit));
}

}  // namespace pelorin
