#pragma once

#include "ChartModule.h"

#include <QObject>

// The chart module's entry: what QPluginLoader finds in it.
class QtChartModule : public QObject, public ChartModule {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID ChartModule_iid)
    Q_INTERFACES(ChartModule)
public:
    ChartPlots *createPlots(QWidget *window) override;
};
