#include "jsplotaxisticker_p.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

JsPlotAxisTicker::JsPlotAxisTicker(QCPAxis* axis)
    : m_axis(axis)
{
}

double JsPlotAxisTicker::autoTickStep(double rangeSize, int tickCount)
{
    // About tickCount steps across the range (the small addition keeps exact
    // integers from jittering), rounded to a readable mantissa: to halves
    // below 5, to even numbers from 5 on.
    const double step = rangeSize / (std::max(tickCount, 1) + 1e-10);
    const double magnitude = std::pow(10.0, std::floor(std::log10(step)));
    const double mantissa = step / magnitude;
    if (mantissa < 5)
        return std::floor(mantissa * 2) / 2.0 * magnitude;
    return std::floor(mantissa / 2.0) * 2.0 * magnitude;
}

int JsPlotAxisTicker::autoSubTickCount(double tickStep, int fallback)
{
    const double magnitude = std::pow(10.0, std::floor(std::log10(tickStep)));
    const double mantissa = tickStep / magnitude;
    if (!std::isfinite(mantissa))
        return fallback;
    const double epsilon = 0.01;
    double whole = 0;
    const double fraction = std::modf(mantissa, &whole);
    int digit = int(whole);
    // Sub-ticks on round numbers for whole and half mantissas.
    static const int forWhole[] = {0, 4, 3, 2, 3, 4, 2, 6, 3, 2};
    static const int forHalf[] = {0, 2, 4, 4, 2, 4, 4, 2, 4, 4};
    if (fraction < epsilon || 1.0 - fraction < epsilon) {
        if (1.0 - fraction < epsilon)
            ++digit;
        return digit >= 1 && digit <= 9 ? forWhole[digit] : fallback;
    }
    if (std::abs(fraction - 0.5) < epsilon && digit >= 1 && digit <= 9)
        return forHalf[digit];
    return fallback;
}

QVector<double> JsPlotAxisTicker::linearTicks(const QCPRange& range)
{
    double step = m_tickStep;
    if (m_autoTickStep || !(step > 0) || !std::isfinite(step)) {
        step = autoTickStep(range.size(), m_autoTickCount);
        if (m_autoTickStep)
            m_tickStep = step;
    }
    if (!(step > 0) || !std::isfinite(step))
        return {};
    if (m_autoSubTicks)
        m_subTickCount = autoSubTickCount(step, m_subTickCount);
    double first = std::floor(range.lower / step);
    double last = std::ceil(range.upper / step);
    // A step far too fine for the range: take a multiple of it instead, with
    // room for the ticks just beyond both ends.
    if (last - first + 1 > maxTicks) {
        step *= std::ceil(range.size() / (step * (maxTicks - 2)));
        first = std::floor(range.lower / step);
        last = std::ceil(range.upper / step);
    }
    QVector<double> ticks;
    if (!std::isfinite(first) || !std::isfinite(last) || last - first + 1 > maxTicks)
        return ticks;
    const int count = int(last - first) + 1;
    ticks.reserve(count);
    for (int n = 0; n < count; ++n)
        ticks.append((first + n) * step);
    return ticks;
}

QVector<double> JsPlotAxisTicker::logTicks(const QCPRange& range) const
{
    const double base = m_scaleLogBase > 1 && std::isfinite(m_scaleLogBase) ? m_scaleLogBase : 10.0;
    const double lnBase = std::log(base);
    QVector<double> ticks;
    if (range.lower > 0 && range.upper > 0) {
        double magnitude = std::pow(base, std::floor(std::log(range.lower) / lnBase));
        ticks.append(magnitude);
        while (magnitude < range.upper && magnitude > 0 && ticks.size() <= maxTicks) {
            magnitude *= base;
            ticks.append(magnitude);
        }
    } else if (range.lower < 0 && range.upper < 0) {
        double magnitude = -std::pow(base, std::ceil(std::log(-range.lower) / lnBase));
        ticks.append(magnitude);
        while (magnitude < range.upper && magnitude < 0 && ticks.size() <= maxTicks) {
            magnitude /= base;
            ticks.append(magnitude);
        }
    }
    // A range across zero has no logarithmic ticks.
    return ticks;
}

QString JsPlotAxisTicker::label(double tick, const QLocale& locale, QChar formatChar,
                                int precision) const
{
    if (m_tickLabelType != 1)
        return locale.toString(tick, formatChar.toLatin1(), precision);
    // Seconds since the epoch; beyond what a date can hold there is no label.
    const double msecs = std::round(tick * 1000.0);
    if (!(std::abs(msecs) < 8.64e18))
        return QString();
    const QDateTime utc = QDateTime::fromMSecsSinceEpoch(qint64(msecs), Qt::UTC);
    return locale.toString(utc.toTimeSpec(Qt::TimeSpec(m_dateTimeSpec)), m_dateTimeFormat);
}

void JsPlotAxisTicker::generate(const QCPRange& range, const QLocale& locale, QChar formatChar,
                                int precision, QVector<double>& ticks, QVector<double>* subTicks,
                                QVector<QString>* tickLabels)
{
    const bool logarithmic = m_axis && m_axis->scaleType() == QCPAxis::stLogarithmic;
    const QCPRange before = range;
    if (m_autoTicks) {
        m_tickVector = logarithmic ? logTicks(before) : linearTicks(before);
    } else if (m_request) {
        m_request();
    }
    if (m_autoTickLabels) {
        m_tickVectorLabels.resize(m_tickVector.size());
        for (int i = 0; i < m_tickVector.size(); ++i)
            m_tickVectorLabels[i] = label(m_tickVector.at(i), locale, formatChar, precision);
    } else if (m_autoTicks && m_request) {
        // Ticks of our own, labels from the script.
        m_request();
    }

    // The script may have changed the range (it is the axis's own) while it ran.
    const QCPRange now = m_axis ? m_axis->range() : before;
    const double tolerance = now.size() * 1e-10;
    const double lower = now.lower - tolerance;
    const double upper = now.upper + tolerance;

    ticks.clear();
    if (tickLabels)
        tickLabels->clear();
    for (int i = 0; i < m_tickVector.size(); ++i) {
        const double tick = m_tickVector.at(i);
        if (!(tick >= lower && tick <= upper))
            continue;
        ticks.append(tick);
        if (tickLabels)
            tickLabels->append(m_tickVectorLabels.value(i));
    }

    if (!subTicks)
        return;
    subTicks->clear();
    const int count = std::min(std::max(m_subTickCount, 0), int(maxSubTicks));
    if (count == 0 || m_tickVector.size() < 2)
        return;
    QVector<double> sorted;
    sorted.reserve(m_tickVector.size());
    for (double tick : qAsConst(m_tickVector)) {
        if (std::isfinite(tick))
            sorted.append(tick);
    }
    std::sort(sorted.begin(), sorted.end());
    for (int i = 1; i < sorted.size() && subTicks->size() < maxSubTicks; ++i) {
        const double from = sorted.at(i - 1);
        const double to = sorted.at(i);
        if (to < lower || from > upper)
            continue;
        const double step = (to - from) / (count + 1.0);
        for (int k = 1; k <= count && subTicks->size() < maxSubTicks; ++k) {
            const double position = from + k * step;
            if (position > upper)
                break;
            if (position >= lower)
                subTicks->append(position);
        }
    }
}
