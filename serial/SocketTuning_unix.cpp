#include "SocketTuning.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace SocketTuning {

void acknowledgeAtOnce(qintptr descriptor)
{
#ifdef TCP_QUICKACK
    // Linux leaves this mode again by itself, so it is asked for anew after
    // every read. A failure leaves the delayed acknowledgements: slower, not
    // wrong.
    if (descriptor >= 0) {
        const int on = 1;
        ::setsockopt(int(descriptor), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    }
#else
    Q_UNUSED(descriptor);
#endif
}

} // namespace SocketTuning
