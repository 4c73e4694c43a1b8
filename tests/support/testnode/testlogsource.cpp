#include "testlogsource.h"

#include "qerfcemitevent.h"
#include "qerfcevent.h"
#include "qerfcexception.h"
#include "qerfcrequest.h"
#include "qerfcstack.h"
#include "qerfcstack_p.h"

#include <QCommandLineParser>
#include <QFile>

#include <cstdio>

namespace {

constexpr quint8 LogEvent = 127;
// Records (or payloads) per batch when the node goes as fast as the link
// takes them, and the batches out unanswered.
constexpr int FastBatch = 64;
constexpr int FastBatchesOut = 2;
constexpr int TickMs = 5;
constexpr quint8 EchoFunction = 0;

} // namespace

void TestLogSource::addOptions(QCommandLineParser& parser)
{
    parser.addOptions({
        {QStringLiteral("log-count"), QStringLiteral("Emit this many debug-log records as event 127 (0: no end)."),
         QStringLiteral("n")},
        {QStringLiteral("log-rate"), QStringLiteral("Debug-log records per second (0: as fast as it can)."),
         QStringLiteral("r"), QStringLiteral("0")},
        {QStringLiteral("log-bytes"), QStringLiteral("Emit this file's bytes as the debug log, once."),
         QStringLiteral("file")},
        {QStringLiteral("log-slice"), QStringLiteral("Bytes per debug-log event (1..32)."), QStringLiteral("n"),
         QStringLiteral("32")},
    });
}

TestLogSource::Options TestLogSource::readOptions(const QCommandLineParser& parser)
{
    Options o;
    o.enabled = parser.isSet(QStringLiteral("log-count")) || parser.isSet(QStringLiteral("log-bytes"));
    o.count = parser.value(QStringLiteral("log-count")).toULongLong();
    o.rate = parser.value(QStringLiteral("log-rate")).toDouble();
    o.bytesFile = parser.value(QStringLiteral("log-bytes"));
    o.slice = qBound(1, parser.value(QStringLiteral("log-slice")).toInt(), 32);
    return o;
}

TestLogSource::TestLogSource(QErfcStack* stack, const Options& options)
    : m_stack(stack)
    , m_engine(stack->findChild<QErfcStackPrivate*>(QString(), Qt::FindDirectChildrenOnly))
    , m_options(options)
{
    if (!options.enabled)
        return;
    if (!options.bytesFile.isEmpty()) {
        QFile file(options.bytesFile);
        if (file.open(QIODevice::ReadOnly))
            m_file = file.readAll();
        else
            std::fprintf(stderr, "log: cannot read %s\n", qPrintable(options.bytesFile));
    }
    m_event = new QErfcEvent(LogEvent, QStringLiteral("DEBUG LOG"), QErfc::User, this);
    m_stack->registerEvent(m_event);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(TickMs);
    connect(&m_timer, &QTimer::timeout, this, &TestLogSource::tick);
    m_timer.start();
}

TestLogSource::~TestLogSource()
{
    if (!m_options.enabled)
        return;
    m_stack->unregisterEvent(m_event);
    if (m_options.bytesFile.isEmpty())
        std::printf("log sent=%llu\n", static_cast<unsigned long long>(m_sent));
    else
        std::printf("log sent=%lld bytes\n", static_cast<long long>(m_fileOffset));
    std::fflush(stdout);
}

QByteArray TestLogSource::record(quint64 seq)
{
    static const char* const modules[] = {"CORE", "NET", "IO"};
    QString text;
    if (seq % 10 == 9)
        text = QStringLiteral("seq=%1\tmulti\r\n\tline two\r\nline three").arg(seq, 8, 10, QLatin1Char('0'));
    else if (seq % 10 == 4)
        text = QStringLiteral("seq=%1 \u00e9\u20ac\u65e5\u672c").arg(seq, 8, 10, QLatin1Char('0'));
    else
        text = QStringLiteral("seq=%1 running").arg(seq, 8, 10, QLatin1Char('0'));
    const QStringList fields{
        QString::number(seq % 4),
        QString::number(seq % 7),
        QString::number(quint32(seq * 7)),
        QLatin1String(modules[seq % 3]),
        QStringLiteral("main.c"),
        QStringLiteral("tick"),
        QString::number(100 + seq % 900),
        seq % 2 ? QStringLiteral("irq") : QStringLiteral("ctx"),
        text,
    };
    return '\x02' + fields.join(QChar(0x03)).toUtf8() + '\x1d';
}

void TestLogSource::reset()
{
    // Nothing is held between passes; a restart starts the pacing anew.
    m_wasSubscribed = false;
}

int TestLogSource::subscriber() const
{
    if (!m_engine)
        return -1;
    QMutexLocker lock(&m_engine->m_subscribersLock);
    const QMap<uchar, QErfcSubscriber> subscribers = m_engine->m_subscribers.value(LogEvent);
    return subscribers.isEmpty() ? -1 : subscribers.firstKey();
}

void TestLogSource::sendEcho(int address)
{
    auto* echo = new QErfcRequest(quint8(address), EchoFunction);
    ++m_echoesOut;
    // Completed on the stack thread; counted off and deleted here.
    connect(echo, &QErfcRequest::finished, this, [this, echo] {
        --m_echoesOut;
        delete echo;
        tick();
    }, Qt::QueuedConnection);
    try {
        m_stack->send(echo); // false: completed at once, finished follows
    } catch (const QErfcException&) {
        --m_echoesOut;
        delete echo;
    }
}

bool TestLogSource::emitBytes(const QByteArray& bytes)
{
    for (int at = 0; at < bytes.size(); at += m_options.slice) {
        QErfcEmitEvent event(LogEvent, bytes.mid(at, m_options.slice));
        try {
            m_stack->send(&event);
        } catch (const QErfcException&) {
            return false; // disabled meanwhile: the rest is lost, as on a reset
        }
    }
    return true;
}

void TestLogSource::tick()
{
    const bool generated = m_options.bytesFile.isEmpty();
    const quint64 done = generated ? m_sent : quint64(m_fileOffset / m_options.slice);
    if (!m_event)
        return;
    if ((generated && m_options.count && m_sent >= m_options.count)
        || (!generated && m_fileOffset >= m_file.size())) {
        m_timer.stop();
        return;
    }
    const int peer = subscriber();
    if (peer < 0) {
        m_wasSubscribed = false;
        return;
    }
    if (m_options.rate <= 0 && m_echoesOut >= FastBatchesOut)
        return;
    if (!m_wasSubscribed) {
        m_wasSubscribed = true;
        m_pace.start();
        m_pacedFrom = done;
    }

    quint64 due = FastBatch;
    if (m_options.rate > 0) {
        const quint64 total = quint64(double(m_pace.elapsed()) * m_options.rate / 1000.0);
        due = total > done - m_pacedFrom ? total - (done - m_pacedFrom) : 0;
    }
    if (due == 0)
        return;

    if (!generated) {
        const qint64 n = qMin<qint64>(qint64(due) * m_options.slice, m_file.size() - m_fileOffset);
        if (emitBytes(m_file.mid(int(m_fileOffset), int(n))))
            m_fileOffset += n;
    } else {
        if (m_options.count)
            due = qMin(due, m_options.count - m_sent);
        QByteArray bytes;
        for (quint64 i = 0; i < due; ++i)
            bytes += record(m_sent + i);
        if (emitBytes(bytes))
            m_sent += due;
    }
    if (m_options.rate <= 0) {
        sendEcho(peer);
        if (m_echoesOut < FastBatchesOut)
            QTimer::singleShot(0, this, [this] { tick(); });
    }
}
