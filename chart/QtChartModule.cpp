#include "QtChartModule.h"

#include "QtChartPlots.h"

ChartPlots *QtChartModule::createPlots(QWidget *window)
{
    return new QtChartPlots(window);
}
