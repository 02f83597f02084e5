#pragma once
// Launches verify_kernel on the default stream (CUDA builds only). The caller checks the
// runtime's last error afterwards.
#include "gpu/kernel_item.hpp"

namespace pelorin {

void launch_verify_kernel(unsigned blocks, unsigned block_size, const KernelArgs& a);

}  // namespace pelorin
