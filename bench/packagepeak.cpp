// Peak memory of starting a large script package, measured from outside:
//   packagepeak make <file> [MiB]   writes a package of that many MiB (250 by
//                                   default) of text-like members, streamed to
//                                   disk so that making it costs no memory;
//   /usr/bin/time -v packagepeak start <file>
//                                   starts it in a fresh engine and prints the
//                                   package size and the peak resident size.
// Run the two steps as separate processes: only the second is measured.

#include "jsrte.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <sys/resource.h>
#include <zlib.h>

namespace {

constexpr int MemberSize = 1 << 20;

QByteArray header(const QByteArray& name, qint64 size)
{
    QByteArray h(512, '\0');
    h.replace(0, name.size(), name);
    const QByteArray sizeField = QByteArray::number(size, 8).rightJustified(11, '0');
    h.replace(124, sizeField.size(), sizeField);
    return h;
}

bool put(gzFile out, const QByteArray& bytes)
{
    return gzwrite(out, bytes.constData(), unsigned(bytes.size())) == bytes.size();
}

int make(const QString& path, int mebibytes)
{
    gzFile out = gzopen(QFile::encodeName(path).constData(), "wb6");
    if (!out)
        return 1;
    const QByteArray main = "var information = {entry: function () { print('started'); }};\n";
    bool ok = put(out, header("./main.js", main.size())) && put(out, main)
              && put(out, QByteArray(512 - main.size(), '\0'));
    // Text-like data that packs about 3:1, like the files of a real package.
    quint32 x = 1;
    QByteArray data(MemberSize, ' ');
    for (int m = 0; ok && m < mebibytes; ++m) {
        for (int i = 0; i < data.size(); ++i) {
            x = x * 1664525u + 1013904223u;
            data[i] = "etaoin shrdlu\n,.0123456789"[(x >> 24) % 26];
        }
        ok = put(out, header("./data/member" + QByteArray::number(m) + ".txt", data.size())) && put(out, data);
    }
    ok = ok && put(out, QByteArray(1024, '\0'));
    return gzclose(out) == Z_OK && ok ? 0 : 1;
}

int start(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray archive = file.readAll();
    file.close();
    QTextStream out(stdout);
    try {
        JsRte engine;
        QObject::connect(&engine, &JsRte::print, [&out](const QString& text) { out << "script:" << text << '\n'; });
        engine.startPackage(archive, true);
    } catch (const JsRteException& e) {
        out << "start failed: " << e.what() << '\n';
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    out << "package MiB: " << double(archive.size()) / (1 << 20) << '\n'
        << "peak resident MiB: " << double(usage.ru_maxrss) / 1024 << '\n';
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args.at(1) == QLatin1String("make"))
        return make(args.at(2), args.size() > 3 ? args.at(3).toInt() : 250);
    if (args.size() == 3 && args.at(1) == QLatin1String("start"))
        return start(args.at(2));
    QTextStream(stderr) << "usage: packagepeak make <file> [MiB] | packagepeak start <file>\n";
    return 2;
}
