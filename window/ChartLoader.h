#pragma once

#include <QString>

class ChartModule;

// Finds and loads the chart module, the part of the program that draws with
// Qt Charts, when a chart is first opened: until then neither the module nor
// the chart's libraries are in the process. It is looked for beside the
// program (where a build and Windows keep it), then where it is installed
// on Linux: <prefix>/lib/<architecture>/commcheck beside <prefix>/bin. Once
// loaded it stays.
class ChartLoader {
public:
    // The module, or nullptr with the reason in `error`.
    static ChartModule *load(QString *error);

    // Loads the module from `file` instead, whatever lies beside the
    // program: for programs that are not installed with it, such as tests.
    static void setModuleFile(const QString &file);
};
