#include "FileSizeLimit.h"

#include <csignal>

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    ok_ = getrlimit(RLIMIT_FSIZE, &old_) == 0;
    rlimit cap = old_;
    cap.rlim_cur = bytes;
    ok_ = ok_ && setrlimit(RLIMIT_FSIZE, &cap) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
}
