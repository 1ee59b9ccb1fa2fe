#pragma once

// What commcheck-cli's exit status means; the README and the man page list
// the same codes.
enum ExitCode : int {
    ExitOk = 0,            // at least one exchange completed and nothing was wrong
    ExitFaults = 1,        // errors, lost replies, no exchange completed, bytes not sent
    ExitUsage = 2,         // bad command line, or a log that cannot be written
    ExitPortNotOpened = 3, // the port could not be opened
    ExitPortLost = 4,      // the port went away while in use
};
