#pragma once

// What commcheck-cli's exit status means; docs/command-line.md and the man page list
// the same codes. Where a run has more than one to tell, the one that
// changes most what its user does next wins: a lost port (the run itself
// was cut short), then a log that failed (the rows a user would read for
// the faults are not all there), then faults.
enum ExitCode : int {
    ExitOk = 0,            // at least one exchange completed and nothing was wrong
    ExitFaults = 1,        // errors, lost replies, no exchange completed, bytes not sent
    ExitUsage = 2,         // bad command line, or a log that cannot be written
    ExitPortNotOpened = 3, // the port could not be opened
    ExitPortLost = 4,      // the port went away while in use
    ExitLogFailed = 5,     // the log could not be kept to the end; the run itself went on
};
