// Linux needs no start-up or shut-down of the socket layer.
#include "sntp/SntpSocket.h"

namespace Kovan {

bool SntpSocket::init() { return true; }

void SntpSocket::cleanup() { }

} // namespace Kovan
