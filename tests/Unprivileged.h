#pragma once

#include <QString>

// Root may write into a read-only folder or file, so a test that needs the
// system to refuse a write runs its case as the user nobody. A test function
// that finds itself running as root calls rerunAsNobody() for its current
// row and checks the answer; run by anyone else, it does the case itself.
namespace Unprivileged {

bool isRoot();

// Runs `testCase` ("function:row", or "function" alone) of this test program
// again as nobody:nogroup with no other groups, through setpriv, with HOME
// and TMPDIR in a folder given to nobody for the run. Empty when the case
// ran and passed; otherwise what went wrong, with the case's output.
QString rerunAsNobody(const QString &testCase);

// rerunAsNobody() for the test function and row running now.
QString rerunCurrentCaseAsNobody();

} // namespace Unprivileged
