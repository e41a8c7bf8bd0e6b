// SPDX-License-Identifier: GPL-3.0-or-later
// Times write-backs (RecordCursor::store, as a move of the class editor
// stores an edit, against the row as shown) with their records and without
// (TARN_TEST_NO_HISTORY),
// taking turns in batches so that a shared machine's load weighs on both.
// Prints the median of each in milliseconds.
//   bench_writeback DATA_DIR CONFIGURATION [BATCHES]

#include "benchsupport.h"
#include "core/appstate.h"
#include "core/startup.h"
#include "store/recordcursor.h"
#include "store/schema.h"

#include <QCoreApplication>

using namespace tarn;
using namespace tarn::bench;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_writeback DATA_DIR CONFIGURATION [BATCHES]\n");
        return 2;
    }
    const int batches = argc > 3 ? std::max(1, atoi(argv[3])) : 7;
    AppState state(QString::fromLocal8Bit(argv[1]));
    if (StartupResult started = startUp(state); !started.status) {
        std::fprintf(stderr, "%s\n", qPrintable(started.status.message()));
        return 1;
    }
    RecordCursor cursor(state.data().database(),
                        RecordSource::classesOf(QString::fromLocal8Bit(argv[2])));
    if (!cursor.reload() || cursor.keys().isEmpty())
        return 1;
    // The class editor shows every column, and stores against them.
    const QStringList shown = qEnvironmentVariableIsSet("TARN_BENCH_SHOWN_EDITS")
                                  ? QStringList{"max_speed", "max_health"}
                                  : schema::classdefColumnNames();
    constexpr int kStores = 100;
    std::vector<double> with, without;
    int value = 0;
    for (int batch = 0; batch < 2 * batches; ++batch) {
        const bool records = batch % 2;
        if (records)
            qunsetenv("TARN_TEST_NO_HISTORY");
        else
            qputenv("TARN_TEST_NO_HISTORY", "1");
        for (int i = 0; i < kStores; ++i) {
            const RecordCursor::Key key = cursor.keys().at(i % cursor.keys().size());
            ++value;
            const Result<std::optional<QVariantList>> row = cursor.load(key, shown);
            if (!row || !*row)
                return 1;
            // Two fields, as a typical edit of speed and health.
            QElapsedTimer timer;
            timer.start();
            const Result<WriteOutcome> stored = cursor.store(
                key, {{"max_speed", "max_health"}, {value % 1000, value % 500}}, {shown, **row});
            (records ? with : without).push_back(msSince(timer));
            if (!stored || stored->kind != WriteOutcome::Done)
                return 1;
        }
    }
    std::printf("figure with %.3f\nfigure without %.3f\n", median(with), median(without));
    return 0;
}
