#pragma once

#include <QString>

struct PortSurvey;

// The hint of the port number box: which numbers name which device now,
// entries that name a device that is gone, and the serial devices no number
// names yet with how to give them one.
namespace PortHints {

// PortHints::text(survey) ==
//   "ポート番号 (port numbers):\n  1 = /dev/ttyS0  16550A\n..."
QString text(const PortSurvey &survey, const QString &portFolder);

} // namespace PortHints
