#include "tools/dev-coordinator/socket_control.hpp"

#include <sys/socket.h>

namespace pelorin::devcoord {

void drop_connection(const SSL* ssl) {
    if (ssl == nullptr) return;
    const int fd = SSL_get_fd(ssl);
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

}  // namespace pelorin::devcoord
