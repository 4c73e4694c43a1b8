#include "tarwriter.h"

#include "tarreader.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStringList>

QByteArray handMadePackage(const QList<QPair<QByteArray, QByteArray>>& members)
{
    QByteArray tar;
    for (const auto& m : members) {
        QByteArray h(512, '\0');
        h.replace(0, qMin(m.first.size(), 100), m.first.left(100));
        const QByteArray size = QByteArray::number(m.second.size(), 8).rightJustified(11, '0');
        h.replace(124, size.size(), size);
        tar += h + m.second + QByteArray((512 - m.second.size() % 512) % 512, '\0');
    }
    tar += QByteArray(1024, '\0');
    QByteArray packed;
    gzipCompress(tar, packed, 6);
    return packed;
}

QByteArray packFolder(const QString& dir)
{
    const QDir root(dir);
    QStringList names;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        names << root.relativeFilePath(it.next());
    names.sort();
    QList<QPair<QByteArray, QByteArray>> members;
    for (const QString& name : names) {
        QFile file(root.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            members.append({name.toUtf8(), file.readAll()});
    }
    return members.isEmpty() ? QByteArray() : handMadePackage(members);
}

QByteArray gnuTarArchive(const QString& dir, const QString& format)
{
    QProcess tar;
    tar.start(QStringLiteral("tar"), {QStringLiteral("-czf"), QStringLiteral("-"), QStringLiteral("--format=") + format,
                                      QStringLiteral("-C"), dir, QStringLiteral(".")});
    if (!tar.waitForFinished(60000) || tar.exitStatus() != QProcess::NormalExit || tar.exitCode() != 0) {
        tar.kill();
        tar.waitForFinished(10000);
        return QByteArray();
    }
    return tar.readAllStandardOutput();
}
