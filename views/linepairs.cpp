#include "linepairs_p.h"

#include <QHash>
#include <QPair>

#include <algorithm>

namespace {

using Pairs = QVector<QPair<int, int>>;

// Ranges of at most this many lines on both sides together are paired
// exactly within the search by content.
const int SmallRange = 64;
// The search by content visits at most this many lines per line of the two
// texts; ranges left over when that is spent stay unpaired.
const int WorkPerLine = 32;
// The longest runs of lines the search by content anchors on.
const int MaxRun = 32;

// Appends the pairs (i, j) with a[i] == b[j] of a longest common
// subsequence of a and b, in order, by a greedy search for the shortest
// edit; false when that takes more than maxEdits insertions and removals.
bool commonLines(const int* a, int n, const int* b, int m, int maxEdits, Pairs* pairs)
{
    const int maxD = qMin(n + m, maxEdits);
    // v[k + offset]: how far along a the furthest search on diagonal k = i - j got.
    const int offset = maxD + 1;
    QVector<int> v(2 * offset + 1, 0);
    // The diagonals -d - 1 .. d + 1 of v before step d, to walk the search back.
    QVector<QVector<int>> trace;
    for (int d = 0; d <= maxD; ++d) {
        trace.append(v.mid(offset - d - 1, 2 * d + 3));
        for (int k = -d; k <= d; k += 2) {
            int i = k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1]) ? v[offset + k + 1]
                                                                                 : v[offset + k - 1] + 1;
            int j = i - k;
            while (i < n && j < m && a[i] == b[j]) {
                ++i;
                ++j;
            }
            v[offset + k] = i;
            if (i < n || j < m)
                continue;
            Pairs found;
            for (int step = d; step >= 0; --step) {
                const QVector<int>& before = trace[step];
                const auto at = [&before, step](int diagonal) { return before[diagonal + step + 1]; };
                const int diagonal = i - j;
                const int from = diagonal == -step || (diagonal != step && at(diagonal - 1) < at(diagonal + 1))
                                     ? diagonal + 1
                                     : diagonal - 1;
                const int fromI = at(from);
                const int fromJ = fromI - from;
                while (i > fromI && j > fromJ)
                    found.append({--i, --j});
                i = fromI;
                j = fromJ;
            }
            std::reverse(found.begin(), found.end());
            *pairs += found;
            return true;
        }
    }
    return false;
}

// The longest run of the anchors (i, j), given in order of i, whose j
// increase too (patience sorting).
Pairs increasingRun(const Pairs& anchors)
{
    // tails[k]: the anchor that ends the run of length k + 1 with the least j so far.
    QVector<int> tails;
    QVector<int> previous(anchors.size(), -1);
    for (int x = 0; x < anchors.size(); ++x) {
        const auto at = std::lower_bound(tails.begin(), tails.end(), anchors[x].second,
                                         [&anchors](int t, int j) { return anchors[t].second < j; });
        const int k = int(at - tails.begin());
        previous[x] = k > 0 ? tails[k - 1] : -1;
        if (k == tails.size())
            tails.append(x);
        else
            tails[k] = x;
    }
    Pairs run(tails.size());
    int k = tails.size();
    for (int x = tails.isEmpty() ? -1 : tails.last(); x >= 0; x = previous[x])
        run[--k] = anchors[x];
    return run;
}

struct Range
{
    int aLo;
    int aHi;
    int bLo;
    int bHi;
};

// The hash of each run of k lines that starts in first .. last - k.
QVector<quint64> runHashes(const QVector<int>& lines, int first, int last, int k)
{
    const quint64 factor = 1000003;
    quint64 top = 1; // factor to the power k - 1
    for (int t = 1; t < k; ++t)
        top *= factor;
    QVector<quint64> hashes;
    hashes.reserve(qMax(0, last - first - k + 1));
    quint64 hash = 0;
    for (int x = first; x < last; ++x) {
        if (x - first >= k)
            hash -= quint64(lines[x - k]) * top;
        hash = hash * factor + quint64(lines[x]);
        if (x - first + 1 >= k)
            hashes.append(hash);
    }
    return hashes;
}

// The runs of k lines that occur once in each side of the range, as the
// pairs (i, j) of their starts, in order of i.
Pairs uniqueRuns(const QVector<int>& a, const QVector<int>& b, const Range& r, int k)
{
    struct Seen
    {
        int inA = 0;
        int inB = 0;
        int i = -1;
        int j = -1;
    };
    const QVector<quint64> aHashes = runHashes(a, r.aLo, r.aHi, k);
    const QVector<quint64> bHashes = runHashes(b, r.bLo, r.bHi, k);
    QHash<quint64, Seen> seen;
    seen.reserve(aHashes.size() + bHashes.size());
    for (int x = 0; x < aHashes.size(); ++x) {
        Seen& run = seen[aHashes[x]];
        ++run.inA;
        run.i = r.aLo + x;
    }
    for (int y = 0; y < bHashes.size(); ++y) {
        Seen& run = seen[bHashes[y]];
        ++run.inB;
        run.j = r.bLo + y;
    }
    Pairs runs;
    for (const quint64 hash : aHashes) {
        const Seen& run = *seen.constFind(hash);
        // Equal hashes of different lines are left out.
        if (run.inA == 1 && run.inB == 1
            && std::equal(a.constBegin() + run.i, a.constBegin() + run.i + k, b.constBegin() + run.j))
            runs.append({run.i, run.j});
    }
    return runs;
}

// The common lines of a and b, numbers standing for lines, found by
// content (see LinePairs), in order of a. The anchors of a range are the
// lines that occur once on each side of it; where none do, the runs of 2,
// 4 .. MaxRun lines that do.
Pairs contentLines(const QVector<int>& a, const QVector<int>& b)
{
    Pairs pairs;
    qint64 work = qint64(WorkPerLine) * (a.size() + b.size());
    QVector<Range> ranges{{0, a.size(), 0, b.size()}};
    while (!ranges.isEmpty()) {
        Range r = ranges.takeLast();
        while (r.aLo < r.aHi && r.bLo < r.bHi && a[r.aLo] == b[r.bLo])
            pairs.append({r.aLo++, r.bLo++});
        while (r.aLo < r.aHi && r.bLo < r.bHi && a[r.aHi - 1] == b[r.bHi - 1])
            pairs.append({--r.aHi, --r.bHi});
        const int n = r.aHi - r.aLo;
        const int m = r.bHi - r.bLo;
        if (n == 0 || m == 0)
            continue;
        if (n + m <= SmallRange) {
            Pairs small;
            commonLines(a.constData() + r.aLo, n, b.constData() + r.bLo, m, n + m, &small);
            for (const auto& pair : qAsConst(small))
                pairs.append({r.aLo + pair.first, r.bLo + pair.second});
            continue;
        }
        Pairs anchors;
        for (int k = 1; anchors.isEmpty() && k <= qMin(MaxRun, qMin(n, m)) && work >= n + m; k *= 2) {
            work -= n + m;
            anchors = uniqueRuns(a, b, r, k);
        }
        const Pairs run = increasingRun(anchors);
        if (run.isEmpty())
            continue;
        int aLo = r.aLo;
        int bLo = r.bLo;
        for (const auto& anchor : run) {
            ranges.append({aLo, anchor.first, bLo, anchor.second});
            pairs.append(anchor);
            aLo = anchor.first + 1;
            bLo = anchor.second + 1;
        }
        ranges.append({aLo, r.aHi, bLo, r.bHi});
    }
    std::sort(pairs.begin(), pairs.end());
    return pairs;
}

} // namespace

LinePairs LinePairs::pair(const QVector<FileLine>& before, const QStringList& now, const QVector<bool>& read,
                          const QString& newLineEnd)
{
    const int n = before.size();
    const int m = now.size();
    int head = 0;
    while (head < n && head < m && before[head].text == now[head])
        ++head;
    int tail = 0;
    while (tail < n - head && tail < m - head && before[n - 1 - tail].text == now[m - 1 - tail])
        ++tail;

    Pairs common;
    for (int i = 0; i < head; ++i)
        common.append({i, i});
    // Between them, only lines that both texts have can be in common: the
    // search leaves out the others (typed or pasted lines, say), so that
    // they do not count against its limit. A number stands for each text.
    QHash<QString, int> ids;
    QVector<int> beforeIds(n - tail - head);
    for (int i = head; i < n - tail; ++i) {
        auto id = ids.find(before[i].text);
        if (id == ids.end())
            id = ids.insert(before[i].text, ids.size());
        beforeIds[i - head] = *id;
    }
    QVector<int> nowIds(m - tail - head, -1);
    QVector<bool> inNow(ids.size(), false);
    for (int j = head; j < m - tail; ++j) {
        const auto id = ids.constFind(now[j]);
        if (id != ids.constEnd()) {
            nowIds[j - head] = *id;
            inNow[*id] = true;
        }
    }
    QVector<int> a;
    QVector<int> b;
    QVector<int> aLine;
    QVector<int> bLine;
    for (int i = head; i < n - tail; ++i) {
        if (inNow[beforeIds[i - head]]) {
            a << beforeIds[i - head];
            aLine << i;
        }
    }
    for (int j = head; j < m - tail; ++j) {
        if (nowIds[j - head] >= 0) {
            b << nowIds[j - head];
            bLine << j;
        }
    }
    LinePairs result;
    Pairs middle;
    result.exact = commonLines(a.constData(), a.size(), b.constData(), b.size(), MaxEdits, &middle);
    if (!result.exact)
        middle = contentLines(a, b);
    for (const auto& pair : qAsConst(middle))
        common.append({aLine[pair.first], bLine[pair.second]});
    for (int t = tail; t > 0; --t)
        common.append({n - t, m - t});
    common.append({n, m}); // the end

    result.pairs.fill(-1, m);
    QVector<bool> sameText(m, false);
    int i = 0;
    int j = 0;
    for (const auto& pair : qAsConst(common)) {
        const int removed = pair.first - i;
        int paired = 0;
        int last = -1;
        for (; j < pair.second; ++j) {
            if (read[j] && paired < removed) {
                result.pairs[j] = i + paired++;
                last = j;
            }
        }
        if (last >= 0 && removed > paired)
            result.pairs[last] = pair.first - 1;
        if (pair.second < m) {
            result.pairs[pair.second] = pair.first;
            sameText[pair.second] = true;
        }
        i = pair.first + 1;
        j = pair.second + 1;
    }

    if (!result.exact) {
        // The ends each text had before, a bit for each kind of end.
        QStringList kinds;
        QVector<int> endsOf(ids.size(), 0);
        for (int line = head; line < n - tail; ++line) {
            const QString& end = before[line].end;
            if (end.isEmpty())
                continue;
            int kind = kinds.indexOf(end);
            if (kind < 0) {
                kind = kinds.size();
                kinds << end;
            }
            endsOf[beforeIds[line - head]] |= 1 << kind;
        }
        for (int line = head; line < m - tail && line < m - 1; ++line) {
            const int id = nowIds[line - head];
            if (id < 0 || sameText[line])
                continue;
            const int kind = kinds.indexOf(result.end(before, line, newLineEnd));
            if (endsOf[id] & ~(kind < 0 ? 0 : 1 << kind))
                ++result.endsMayChange;
        }
    }
    return result;
}
