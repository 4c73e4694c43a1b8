// The debug log view against the test node over loopback TCP, the view
// shown offscreen, records of about 60 bytes (two events each):
//   - a flush at the cap and a Clear of a full table, timed on their own;
//   - paced ingest: the node at 5000 records/s; records per second reaching
//     the table, every sequence number once and in order, GUI latency;
//   - full speed: the node as fast as it can for a minute; the ceiling, the
//     stack's counters of dropped frames, RSS at the cap and after ten times
//     as many records, peak RSS.
// GUI latency: a watcher thread posts a time-stamped event to a GUI-thread
// object every 10 ms; its delay is the figure. Prints its figures; run by
// hand on a Release build:
//   bench_debuglog [paced seconds, default 30] [full-speed seconds, default 60]
//   bench_debuglog cap    (the flush at the cap and the Clear only)

#include "childprocess.h"
#include "erfcdebuglogdockwidget.h"
#include "erfcnodemanager.h"
#include "qerfcstack.h"
#include "qerfcstreaminterface.h"
#include "tcptestdevice.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr uchar Own = 1;
constexpr uchar Node = 10;

using Clock = std::chrono::steady_clock;

long statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLong();
    }
    return -1;
}
long rssKb() { return statusKb("VmRSS:"); }
long peakRssKb() { return statusKb("VmHWM:"); }
void resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// Delays of time-stamped events posted from a watcher thread every 10 ms.
class LatencyProbe : public QObject
{
public:
    static const QEvent::Type Type;
    struct Stamp : QEvent
    {
        explicit Stamp(Clock::time_point t) : QEvent(LatencyProbe::Type), sent(t) {}
        Clock::time_point sent;
    };

    void start()
    {
        m_delaysMs.clear();
        m_stop = false;
        m_watcher = std::thread([this] {
            while (!m_stop) {
                QCoreApplication::postEvent(this, new Stamp(Clock::now()));
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    void stop()
    {
        m_stop = true;
        if (m_watcher.joinable())
            m_watcher.join();
        QCoreApplication::sendPostedEvents(this, Type);
    }
    double maxMs() const { return m_delaysMs.empty() ? 0 : *std::max_element(m_delaysMs.begin(), m_delaysMs.end()); }
    double percentileMs(double p) const
    {
        if (m_delaysMs.empty())
            return 0;
        std::vector<double> d = m_delaysMs;
        std::sort(d.begin(), d.end());
        return d[std::min(d.size() - 1, size_t(p * double(d.size())))];
    }
    size_t samples() const { return m_delaysMs.size(); }

protected:
    bool event(QEvent* e) override
    {
        if (e->type() != Type)
            return QObject::event(e);
        const auto delay = Clock::now() - static_cast<Stamp*>(e)->sent;
        m_delaysMs.push_back(std::chrono::duration<double, std::milli>(delay).count());
        return true;
    }

private:
    std::vector<double> m_delaysMs;
    std::atomic<bool> m_stop{false};
    std::thread m_watcher;
};
const QEvent::Type LatencyProbe::Type = QEvent::Type(QEvent::registerEventType());

// Follows the rows reaching the table: the sequence numbers of the records'
// first rows must run 0, 1, 2, ...
class RowWatcher : public QObject
{
public:
    explicit RowWatcher(QTableWidget* table)
        : m_table(table)
    {
        QAbstractItemModel* model = table->model();
        connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                [this](const QModelIndex&, int first, int last) {
                    if (first == 0)
                        m_scanned = qMax(0, m_scanned - (last + 1));
                });
        // The flush fills the new rows after inserting them: look afterwards.
        connect(model, &QAbstractItemModel::rowsInserted, this, [this] { scan(); }, Qt::QueuedConnection);
        connect(model, &QAbstractItemModel::modelReset, this, [this] { m_scanned = 0; });
    }
    void scan()
    {
        static const QRegularExpression seq(QStringLiteral("^seq=(\\d{8})"));
        static const char* const modules[] = {"CORE", "NET", "IO"};
        const int rows = m_table->rowCount();
        for (; m_scanned < rows; ++m_scanned) {
            if (!m_table->item(m_scanned, 0))
                continue; // a continuation row
            const QString text = m_table->item(m_scanned, 7)->text();
            const QRegularExpressionMatch m = seq.match(text);
            if (!m.hasMatch()) {
                ++garbled;
                continue;
            }
            // The generator's fields (see TestLogSource::record).
            const qint64 n = m.captured(1).toLongLong();
            const QString tail = n % 10 == 9 ? QStringLiteral("    multi")
                                 : n % 10 == 4 ? QStringLiteral(" \u00e9\u20ac\u65e5\u672c")
                                               : QStringLiteral(" running");
            if (text.mid(12) != tail || m_table->item(m_scanned, 4)->text() != QLatin1String(modules[n % 3])
                || m_table->item(m_scanned, 2)->text() != QString::number(100 + n % 900))
                ++garbled;
            if (n < records)
                ++disordered;
            else
                missing += n - records;
            records = n + 1;
            if (received == 0)
                first.start();
            ++received;
            lastMs = first.elapsed();
            if (rows >= ErfcDebugLogDockWidget::MaxRows && rssAtCap < 0) {
                rssAtCap = rssKb();
                receivedAtCap = received;
            }
            if (rssAtCap >= 0 && rssAfterTenCaps < 0 && received >= receivedAtCap + 10 * ErfcDebugLogDockWidget::MaxRows)
                rssAfterTenCaps = rssKb();
        }
    }

    qint64 received = 0;
    qint64 records = 0;    // the next sequence number expected
    qint64 missing = 0;    // sequence numbers skipped
    qint64 disordered = 0; // repeated or out of order
    qint64 garbled = 0;    // fields not as sent
    QElapsedTimer first;
    qint64 lastMs = 0; // since the first record
    long rssAtCap = -1;
    qint64 receivedAtCap = 0;
    long rssAfterTenCaps = -1;

private:
    QTableWidget* m_table;
    int m_scanned = 0;
};

void waitFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A flush at the cap with what 75 ms bring at 5000 records/s, and a Clear
// of a full table.
void timeCapAndClear()
{
    ErfcDebugLogDockWidget view(nullptr, Node);
    view.resize(1200, 600);
    view.show();
    QTableWidget* table = view.findChild<QTableWidget*>();
    quint64 seq = 0;
    const auto queue = [&](int n) {
        for (int i = 0; i < n; ++i, ++seq)
            view.queueEntry(ErfcDebugLogEntry(quint8(seq % 4), quint8(seq % 7), seq * 7, "CORE", "main.c", "tick",
                                              quint32(100 + seq % 900), "ctx",
                                              QStringLiteral("seq=%1 running").arg(seq, 8, 10, QLatin1Char('0'))));
    };
    while (table->rowCount() < ErfcDebugLogDockWidget::MaxRows) {
        queue(1000);
        view.onPrintBufferTimerTimeout();
    }
    std::vector<double> flushMs;
    for (int i = 0; i < 20; ++i) {
        queue(375);
        QElapsedTimer t;
        t.start();
        view.onPrintBufferTimerTimeout();
        QCoreApplication::processEvents(); // the layout and paint that follow
        flushMs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(flushMs.begin(), flushMs.end());
    QElapsedTimer t;
    t.start();
    view.onClearPushButtonClicked();
    const double clearCallMs = double(t.nsecsElapsed()) / 1e6;
    QCoreApplication::processEvents();
    const double clearMs = double(t.nsecsElapsed()) / 1e6;
    std::printf("cap: flush of 375 records at 50000 rows: median %.1f ms, max %.1f ms; Clear of %d rows %.1f ms "
                "(%.1f ms in the call)\n",
                flushMs[flushMs.size() / 2], flushMs.back(), ErfcDebugLogDockWidget::MaxRows, clearMs, clearCallMs);
}

struct RunFigures
{
    double seconds = 0;
    qint64 received = 0;
};

// One run against a fresh test node emitting at `rate` records/s (0: as
// fast as it can), the latency probe running throughout.
RunFigures run(const char* name, double rate, int seconds, bool clearHalfway)
{
    ChildProcess node;
    node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    node.start(QStringLiteral(TESTNODE_PATH),
               {"--address", QString::number(Node), "--listen", "0", "--tick", "0", "--log-count", "0",
                "--log-rate", QString::number(rate)});
    quint16 port = 0;
    while (!port && node.waitForReadyRead(20000)) {
        while (node.canReadLine()) {
            const QByteArray line = node.readLine().trimmed();
            if (line.startsWith("listening port="))
                port = quint16(line.mid(15).toUInt());
        }
    }
    if (!port) {
        std::fprintf(stderr, "the test node did not start\n");
        return {};
    }

    QErfcStack stack(Own);
    TcpClientTestDevice device(port);
    QErfcStreamInterface link(&device);
    stack.bindInterface(&link);
    stack.enable();
    QElapsedTimer wait;
    wait.start();
    while (!stack.knownNodes().contains(Node) && wait.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);

    // The view reports events it had to drop in the system log.
    quint64 dropped = 0;
    const QMetaObject::Connection lines = QObject::connect(
        ErfcNodeManager::instance(), &ErfcNodeManager::message, [&dropped](const QString& line) {
            static const QRegularExpression lost(QStringLiteral("(\\d+) events lost"));
            const QRegularExpressionMatch m = lost.match(line);
            if (m.hasMatch())
                dropped += m.captured(1).toULongLong();
        });

    resetPeakRss();
    const long rssBefore = rssKb();
    LatencyProbe probe;
    probe.start();
    RunFigures figures;
    long peakAtCap = -1;
    {
        ErfcDebugLogDockWidget view(&stack, Node);
        view.resize(1200, 600);
        view.show();
        RowWatcher watcher(view.findChild<QTableWidget*>());
        QElapsedTimer clock;
        clock.start();
        bool cleared = false;
        std::vector<long> rssSamples;
        std::vector<qint64> receivedSamples;
        while (clock.elapsed() < seconds * 1000) {
            waitFor(1000);
            rssSamples.push_back(rssKb());
            receivedSamples.push_back(watcher.received);
            if (qEnvironmentVariableIsSet("BENCH_TRACE"))
                std::printf("t=%lld rows=%d received=%lld rss=%ld\n", static_cast<long long>(clock.elapsed()),
                            view.findChild<QTableWidget*>()->rowCount(), static_cast<long long>(watcher.received),
                            rssKb());
            if (clearHalfway && !cleared && clock.elapsed() >= seconds * 500) {
                view.onClearPushButtonClicked(); // a full table, in the probe's view
                cleared = true;
            }
            if (peakAtCap < 0 && watcher.rssAtCap >= 0)
                peakAtCap = peakRssKb();
        }
        stack.disable(); // no more events; what is queued still arrives
        waitFor(1000);
        watcher.scan();
        figures.seconds = double(watcher.lastMs) / 1000.0;
        figures.received = watcher.received;

        const QErfcStatistics s = stack.statistics();
        std::printf("%s: %lld records in %.1f s = %.0f records/s; %lld missing, %lld repeated or out of order, "
                    "%lld garbled\n",
                    name, static_cast<long long>(figures.received), figures.seconds,
                    double(figures.received) / figures.seconds, static_cast<long long>(watcher.missing),
                    static_cast<long long>(watcher.disordered), static_cast<long long>(watcher.garbled));
        std::printf("%s: stack frameRx %u, crcError %u, unknownEvent %u, unexpResponse %u, rxqueueFull %u\n", name,
                    s.frameRx, s.crcError, s.unknownEvent, s.unexpResponse, s.rxqueueFull);
        view.close();
        probe.stop();
        std::printf("%s: GUI latency max %.1f ms, 99th percentile %.1f ms (%zu samples)\n", name, probe.maxMs(),
                    probe.percentileMs(0.99), probe.samples());
        std::printf("%s: RSS before %ld KiB, at the cap %ld KiB (%.2f KiB per row), after ten times as many "
                    "records %ld KiB (%+.1f %%), peak %ld KiB; RSS every 10 s:",
                    name, rssBefore, watcher.rssAtCap,
                    watcher.rssAtCap >= 0 ? double(watcher.rssAtCap - rssBefore) / ErfcDebugLogDockWidget::MaxRows : 0.0,
                    watcher.rssAfterTenCaps,
                    watcher.rssAfterTenCaps >= 0 && watcher.rssAtCap > 0
                        ? 100.0 * double(watcher.rssAfterTenCaps - watcher.rssAtCap) / double(watcher.rssAtCap)
                        : 0.0,
                    peakRssKb());
        for (size_t i = 9; i < rssSamples.size(); i += 10)
            std::printf(" %ld", rssSamples[i]);
        std::printf("\n%s: records shown per second:", name);
        for (size_t i = 0; i < receivedSamples.size(); ++i)
            std::printf(" %lld", static_cast<long long>(receivedSamples[i] - (i ? receivedSamples[i - 1] : 0)));
        std::printf("\n");
        std::fflush(stdout);
    }
    std::printf("%s: events dropped by the view (inbox full): %llu\n", name, static_cast<unsigned long long>(dropped));
    QObject::disconnect(lines);
    stack.releaseInterface(&link);
    // Ended as a user ends it, so that it removes its folder.
    node.terminate();
    if (!node.waitForFinished(10000)) {
        node.kill();
        node.waitForFinished(10000);
    }
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "cap") == 0) {
        timeCapAndClear();
        return 0;
    }
    const int pacedSeconds = argc > 1 ? atoi(argv[1]) : 30;
    const int fullSeconds = argc > 2 ? atoi(argv[2]) : 60;

    run("paced 5000/s", 5000, pacedSeconds, true);
    run("full speed", 0, fullSeconds, false);
    timeCapAndClear();
    return 0;
}
