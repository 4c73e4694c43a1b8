// Unpacking a 64 MiB package archive: gunzip and tar split, bytes per second
// counted on the uncompressed tar.

#include "tarreader.h"

#include <benchmark/benchmark.h>

namespace {

// A tar of 64 members of 1 MiB each: text-like data that packs about 3:1.
const QByteArray& archive(qint64* tarSize)
{
    static qint64 size = 0;
    static const QByteArray packed = [] {
        QByteArray tar;
        quint32 x = 1;
        for (int m = 0; m < 64; ++m) {
            QByteArray header(512, '\0');
            const QByteArray name = "./data/member" + QByteArray::number(m) + ".txt";
            header.replace(0, name.size(), name);
            const QByteArray sizeField = QByteArray::number(1 << 20, 8).rightJustified(11, '0');
            header.replace(124, sizeField.size(), sizeField);
            tar += header;
            QByteArray data(1 << 20, ' ');
            for (int i = 0; i < data.size(); ++i) {
                x = x * 1664525u + 1013904223u;
                data[i] = "etaoin shrdlu\n,.0123456789"[(x >> 24) % 26];
            }
            tar += data;
        }
        tar += QByteArray(1024, '\0');
        size = tar.size();
        QByteArray out;
        gzipCompress(tar, out, 6);
        return out;
    }();
    *tarSize = size;
    return packed;
}

void BM_ReadTarGz(benchmark::State& state)
{
    qint64 tarSize = 0;
    const QByteArray& packed = archive(&tarSize);
    for (auto _ : state) {
        bool ok = false;
        const QList<TarEntry> entries = readTarGz(packed, &ok);
        if (!ok || entries.size() != 64)
            state.SkipWithError("archive not read");
        benchmark::DoNotOptimize(entries);
    }
    state.SetBytesProcessed(state.iterations() * tarSize);
    state.counters["archive_MiB"] = double(packed.size()) / (1 << 20);
}
BENCHMARK(BM_ReadTarGz)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
