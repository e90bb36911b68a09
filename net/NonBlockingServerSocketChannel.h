// A listening channel whose socket is non-blocking: accept() with no connection waiting throws
// SocketException with SocketApiWrapper::WOULD_BLOCK.
#pragma once

#include "net/ServerSocketChannel.h"

namespace Kovan {

class NonBlockingServerSocketChannel : public ServerSocketChannel {
protected:
    SOCKET_FD implOpen() override;
};

} // namespace Kovan
