#pragma once

#include <thread>

// Reads the system's font configuration on a thread of its own while the
// program connects to the display. Drawing the first caption otherwise waits
// for it: on Linux the font configuration is dozens of files to parse and a
// cache to map, several milliseconds at every start. Made first thing in
// main() and waited for before the first window is built; does nothing where
// the system keeps no such configuration (Windows).
class FontWarmUp {
public:
    FontWarmUp();
    ~FontWarmUp();

    FontWarmUp(const FontWarmUp &) = delete;
    FontWarmUp &operator=(const FontWarmUp &) = delete;

    // Waits until the configuration is read; later calls return at once.
    void wait();

private:
    std::thread reader_;
};
