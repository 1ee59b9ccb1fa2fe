#include "SocketTuning.h"

namespace SocketTuning {

void acknowledgeAtOnce(qintptr descriptor)
{
    // Windows has no per-read switch; its delayed acknowledgement (200 ms at
    // most, usually acknowledging every second segment at once) stays.
    Q_UNUSED(descriptor);
}

} // namespace SocketTuning
