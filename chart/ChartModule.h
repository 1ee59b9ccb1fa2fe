#pragma once

#include <QtPlugin>

class ChartPlots;
class QWidget;

// What the chart module gives the program: plots for a chart window. The
// module is loaded when a chart is first opened (ChartLoader), so that the
// chart's libraries cost nothing to a program whose chart stays closed.
class ChartModule {
public:
    virtual ~ChartModule() = default;
    // New plots, a child of `window`, in its font.
    virtual ChartPlots *createPlots(QWidget *window) = 0;
};

// Raised whenever this interface or ChartPlots changes, so that a module of
// another build is refused by name instead of called wrongly.
#define ChartModule_iid "commcheck.ChartModule/1"
Q_DECLARE_INTERFACE(ChartModule, ChartModule_iid)
