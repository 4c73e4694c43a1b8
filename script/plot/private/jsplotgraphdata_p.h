#ifndef JSPLOTGRAPHDATA_P_H
#define JSPLOTGRAPHDATA_P_H

#include "jsplotwidget.h"

#include <algorithm>
#include <cmath>

// A graph's points with the removals scripts expect: strict bounds, and
// every point of a repeated key at once. The points stay sorted by key;
// repeated keys are allowed.
class JsPlotGraphData : public QCPGraphDataContainer
{
public:
    // Removes the points with from < key <= to; nothing unless from < to.
    void removeRange(double from, double to)
    {
        if (!(from < to))
            return;
        eraseBetween(upperBound(from), upperBound(to));
    }

    // Removes every point whose key equals key.
    void removeKey(double key)
    {
        if (std::isnan(key))
            return;
        eraseBetween(lowerBound(key), upperBound(key));
    }

private:
    iterator lowerBound(double key)
    {
        return std::lower_bound(begin(), end(), QCPGraphData::fromSortKey(key),
                                qcpLessThanSortKey<QCPGraphData>);
    }
    iterator upperBound(double key)
    {
        return std::upper_bound(begin(), end(), QCPGraphData::fromSortKey(key),
                                qcpLessThanSortKey<QCPGraphData>);
    }
    void eraseBetween(iterator from, iterator to)
    {
        if (from == to)
            return;
        mData.erase(from, to);
        if (mAutoSqueeze)
            performAutoSqueeze();
    }
};

#endif // JSPLOTGRAPHDATA_P_H
