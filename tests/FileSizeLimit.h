#pragma once

#include <sys/resource.h>

// Caps the size of any file this process writes, as a full disk would, for
// as long as it lives. Past the limit a write fails with EFBIG instead of
// the process being killed.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool ok() const { return ok_; }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
    bool ok_ = false;
};
