// Firmware update goodput: a 64 KiB image through the update dialog
// (offscreen) to the test node behind a relay paced like a 115200-baud 8N1
// line (11,520 bytes/s each way), the node receiving in windows of 4096.
// Prints the stream's goodput (connected to finished) against what the line
// allows for the very frames of the run, the time of each phase and the
// program's stack counters, and checks that the image arrived intact. Run
// by hand on a Release build:
//   bench_firmware [--bytes N]

#include "benchbytes.h"
#include "cargo2updatedialog.h"
#include "cargobound.h"
#include "erfcnodemanager.h"
#include "mainwindow.h"
#include "pacedrelay.h"
#include "qerfcstack.h"
#include "testnodeprocess.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>

namespace {
constexpr uchar Own = 1;
constexpr uchar Node = 10;
constexpr quint8 FirmwareChannel = 126;
constexpr int Window = 4096;
constexpr int lineRate = PacedRelay::SerialBytesPerSecond;
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption bytesOption(QStringLiteral("bytes"), QStringLiteral("Image size."),
                                         QStringLiteral("n"), QStringLiteral("65536"));
    parser.addOption(bytesOption);
    parser.process(app);
    const int bytes = parser.value(bytesOption).toInt();

    QTemporaryDir dir;
    const QString imagePath = dir.filePath(QStringLiteral("image.bin"));
    const QString outPath = dir.filePath(QStringLiteral("received.bin"));
    const QByteArray image = randomBytes(bytes, 7);
    {
        QFile file(imagePath);
        if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
            return 1;
    }

    TestNodeProcess node(QStringLiteral(TESTNODE_PATH));
    const quint16 nodePort = node.listen({"--address", QString::number(Node), "--tick", "0", "--firmware-out",
                                          outPath, "--firmware-window", QString::number(Window)});
    if (!nodePort) {
        std::fprintf(stderr, "the test node did not start\n");
        return 1;
    }
    PacedRelay relay(nodePort, lineRate);
    QErfcStack stack;
    MainWindow window(&stack);
    window.openTcpConnection(QStringLiteral("127.0.0.1"), relay.port(), Own);
    if (!QTest::qWaitFor([] { return ErfcNodeManager::instance()->nodeInfo(Node) != nullptr; }, 30000)) {
        std::fprintf(stderr, "the test node did not show up\n");
        return 1;
    }
    QTest::qWait(2000); // the node's information has been read

    QElapsedTimer clock;
    qint64 returned = 0, caught = 0, connected = 0, streamed = 0, flashed = 0;
    Cargo2UpdateDialog dialog(&stack, Node, &window);
    auto* log = dialog.findChild<QTextEdit*>(QStringLiteral("textEditLog"));
    auto* progress = dialog.findChild<QProgressBar*>(QStringLiteral("progressBar"));
    const auto nodeBack = [&](uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode) {
        return addr == Node && state == QErfc::NewNode && mode == QErfc::Maintenance;
    };
    // Ahead of the dialog's own slot: the node is back.
    QObject::connect(ErfcNodeManager::instance(), &ErfcNodeManager::drcUpdate, &dialog,
                     [&](uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode) {
                         if (!returned && nodeBack(addr, state, mode))
                             returned = clock.nsecsElapsed();
                     });
    QObject::connect(log, &QTextEdit::textChanged, &dialog, [&] {
        const QString text = log->toPlainText();
        if (!connected && text.contains(QLatin1String(" - uploading ...")))
            connected = clock.nsecsElapsed();
        if (!flashed && (text.contains(QLatin1String(" - Update sucessfull")) || text.contains(QLatin1String(" - Error")))) {
            flashed = clock.nsecsElapsed();
            QTimer::singleShot(0, &dialog, [&] {
                dialog.findChild<QPushButton*>(QStringLiteral("pushButtonCancel"))->click();
            });
        }
    });
    QObject::connect(progress, &QProgressBar::valueChanged, &dialog, [&](int value) {
        if (!streamed && value == image.size())
            streamed = clock.nsecsElapsed();
    });
    // Answers the file dialog; once the update dialog's own modal loop runs
    // (its slot connected), a second slot after it marks the catch's end.
    QTimer poll;
    bool hooked = false;
    QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            files->selectFile(imagePath);
            static_cast<QDialog*>(files)->done(QDialog::Accepted);
        } else if (modal == &dialog && !hooked) {
            hooked = true;
            QObject::connect(ErfcNodeManager::instance(), &ErfcNodeManager::drcUpdate, &dialog,
                             [&](uchar addr, QErfc::DrcUpdate state, QErfc::Mode mode) {
                                 if (!caught && nodeBack(addr, state, mode))
                                     caught = clock.nsecsElapsed();
                             });
        }
    });
    poll.start(5);
    QTimer::singleShot(600000, &dialog, &QDialog::reject);
    stack.resetStatistics();
    clock.start();
    dialog.exec();
    const QErfcStatistics stats = stack.statistics();

    QFile out(outPath);
    const bool intact = out.open(QIODevice::ReadOnly) && out.readAll() == image;
    const QString text = log->toPlainText();
    const bool ok = intact && text.endsWith(QLatin1String(" - Update sucessfull")) && streamed > connected
        && connected > caught && caught > returned;
    std::printf("firmware update, %d bytes, window %d, %d bytes/s line\n", bytes, Window, lineRate);
    if (!ok) {
        std::printf("FAILED (image %s): %s\n", intact ? "intact" : "not intact", qPrintable(text));
        return 1;
    }
    const double stream = (streamed - connected) / 1e9;
    const Bound bound = lineBound(image, Window, Own, Node, FirmwareChannel, 64, stack.privilege(), lineRate, 0);
    std::printf("  stream     %8.3f s %8.1f B/s   bound %8.1f B/s  %5.1f %%\n", stream, bytes / stream,
                bytes / bound.seconds, 100 * bound.seconds / stream);
    std::printf("  phases: reset to return %.3f s, catch %.3f s, connect %.3f s, stream %.3f s, "
                "flash state %.3f s\n",
                returned / 1e9, (caught - returned) / 1e9, (connected - caught) / 1e9, stream,
                (flashed - streamed) / 1e9);
    // Over TCP the program does not know the line's rate, so each end-of-window request (250 ms
    // time-out) waits behind its window's blocks (about 0.46 s of line for 4096 bytes) and goes out
    // once more: one retry and one unexpected (repeated) answer per window, 16 for 64 KiB.
    std::printf("  stack: frames tx %u rx %u, retries %u, max retries %u, retransmitted to us %u, "
                "unexpected responses %u\n",
                stats.frameTx, stats.frameRx, unsigned(stats.retries), unsigned(stats.maxRetries),
                unsigned(stats.retransmit), unsigned(stats.unexpResponse));
    std::printf("  image arrived intact\n");
    return 0;
}
