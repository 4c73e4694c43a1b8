#include "jsplotaxisconfig_p.h"

JsPlotAxisConfig::JsPlotAxisConfig(QCPAxis* axis, JsPlotAxisTicker* ticker)
    : m_axis(axis)
    , m_ticker(ticker)
{
}

// Numbers outside an enumeration's values are ignored.

void JsPlotAxisConfig::setScaleType(int type)
{
    if (type == QCPAxis::stLinear || type == QCPAxis::stLogarithmic)
        m_axis->setScaleType(QCPAxis::ScaleType(type));
}

void JsPlotAxisConfig::setTickLabelType(int type)
{
    if (type == 0 || type == 1)
        m_ticker->m_tickLabelType = type;
}

void JsPlotAxisConfig::setTickLabelSide(int side)
{
    if (side == QCPAxis::lsInside || side == QCPAxis::lsOutside)
        m_axis->setTickLabelSide(QCPAxis::LabelSide(side));
}

void JsPlotAxisConfig::setDateTimeSpec(int timeSpec)
{
    if (timeSpec >= Qt::LocalTime && timeSpec <= Qt::TimeZone)
        m_ticker->m_dateTimeSpec = timeSpec;
}

void JsPlotAxisConfig::setSelectedParts(int parts)
{
    m_axis->setSelectedParts(QCPAxis::SelectableParts(parts & 0x7));
}

void JsPlotAxisConfig::setSelectableParts(int parts)
{
    m_axis->setSelectableParts(QCPAxis::SelectableParts(parts & 0x7));
}
