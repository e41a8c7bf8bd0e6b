// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/schema.h"
#include "store/serverurl.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>

using namespace tarn;
using namespace tarn::test;

namespace
{

constexpr int kClasses = 10000, kKillsPerCommand = 24;

// Each configuration's package row and its classes in class order, one line a
// class with every column quoted (NULL told apart from '' and 0); for a file
// that fails its integrity check, the complaint.
QMap<QString, QString> contents(const QString &dataPath)
{
    const Peek peek(dataPath);
    if (const QString integrity =
            peek.onServer() ? "ok" : peek.scalar("PRAGMA integrity_check").toString();
        integrity != "ok")
        return {{"integrity_check", integrity}};
    QStringList columns = schema::classdefColumnNames();
    columns.replaceInStrings(QRegularExpression("(.+)"),
                             peek.onServer() ? "quote_nullable(\\1)" : "quote(\\1)");
    QMap<QString, QString> result;
    for (const QVariantMap &row :
         // One statement, one snapshot: a server may commit a killed
         // client's transaction after a first read.
         peek.rows("SELECT package_name AS name, 'package row' AS line, 0 AS num, 0 AS id FROM "
                   "package UNION ALL SELECT package_name, " +
                   columns.join("||'|'||") +
                   ", class_num, rowid FROM classdef UNION ALL SELECT 'history', id || ' ' || "
                   "kind || ' ' || coalesce(package_name, '') || ' ' || (SELECT count(*) FROM "
                   "history_class c WHERE c.kept = h.kept), 0, id FROM history h ORDER BY 3, 4"))
        result[row["name"].toString()] += row["line"].toString() + '\n';
    return result;
}

// True while a command holds the data's write lock: the file's journal
// exists, or a server grants a writer's advisory lock on the database.
bool holdsWriteLock(const QString &location)
{
    if (!isServerUrl(location))
        return QFileInfo::exists(QDir(location).filePath("tarn_dat.mdb-journal"));
    return Peek(location).count(
               "pg_locks WHERE locktype = 'advisory' AND granted AND database "
               "= (SELECT oid FROM pg_database WHERE datname = current_database())") > 0;
}

struct Timing {
    int exitCode = -1;     // -1: killed
    qint64 total = 0;      // us from start to end
    qint64 writing = 0;    // us from the start of the write transaction to the end
    bool lockHeld = false; // when held: the write lock was held at the kill
};

// Runs tarn-cli and times it; the store's test seam makes a file when the
// write transaction has begun. With a delay, kills it with SIGKILL that long
// after the start or, when fromWrite, after the write began. With hold, the
// store holds the write before its COMMIT, and the kill comes once it does.
Timing timedRun(const QString &location, const QStringList &args, qint64 delayUs = -1,
                bool fromWrite = false, bool hold = false)
{
    const QTemporaryDir seam;
    const QString begun = seam.filePath("begun"), held = seam.filePath("held");
    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TARN_TEST_WRITE_BEGUN", begun);
    if (hold)
        environment.insert("TARN_TEST_HOLD_COMMIT", held);
    cli.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    cli.start(QStringLiteral(TARN_CLI), cliLocation(location) + args);
    if (!cli.waitForStarted())
        return {};
    qint64 begunAt = -1;
    while (cli.state() == QProcess::Running && !cli.waitForFinished(0)) {
        const qint64 now = clock.nsecsElapsed() / 1000;
        if (begunAt < 0 && QFileInfo::exists(begun))
            begunAt = now;
        const qint64 from = fromWrite ? begunAt : 0;
        if (hold ? QFileInfo::exists(held) : delayUs >= 0 && from >= 0 && now - from >= delayUs) {
            const bool lockHeld = hold && holdsWriteLock(location);
            cli.kill();
            cli.waitForFinished(60000);
            return {-1, 0, 0, lockHeld};
        }
        QThread::usleep(100);
    }
    const qint64 total = clock.nsecsElapsed() / 1000;
    return {cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1, total,
            begunAt < 0 ? 0 : total - begunAt};
}

} // namespace

// tarn-cli import, copy, delete and restore on a large configuration, killed with
// SIGKILL at many moments of their run: afterwards the data file must pass
// its integrity check and hold the configurations exactly as before the
// command or exactly as after it, never anything in between. The same on a
// server, whose database is then checked.
class tst_CrashSafety : public QObject
{
    Q_OBJECT

    DataDir mTemplate; // the sample files, then with the large configuration
    QString mClassFile;

private slots:
    void initTestCase()
    {
        QByteArray file = "V3 crash\r\nLarge\r\n";
        for (int i = 1; i <= kClasses; ++i)
            file +=
                QString::asprintf("\r\n[Class %d]\r\nmodel red blue 3\r\n1 2 3 4 5 6 7 0 0 0\r\n"
                                  "1 2 3\r\n%d 300 100  %d  %d\r\n100 25 10 2 50 5\r\n",
                                  i, i % 200, i * 7919, i % 512)
                    .toLatin1();
        mClassFile = mTemplate.file("large.class");
        writeFile(mClassFile, file);
        QCOMPARE(timedRun(mTemplate.location(), {"import", "Large", mClassFile}).exitCode, 0);
        QCOMPARE(contents(mTemplate.dataPath()).value("Large").count('\n'), kClasses + 1);
        // A deleted configuration to restore: changes 2 (the copy) and 3.
        QCOMPARE(timedRun(mTemplate.location(), {"copy", "Large", "Gone"}).exitCode, 0);
        QCOMPARE(timedRun(mTemplate.location(), {"delete", "Gone"}).exitCode, 0);
    }

    void killed_data()
    {
        QTest::addColumn<QStringList>("command");
        QTest::newRow("import") << QStringList{"import", "Imported", "%1"};
        QTest::newRow("copy") << QStringList{"copy", "Large", "Copied"};
        QTest::newRow("delete") << QStringList{"delete", "Large"};
        QTest::newRow("restore") << QStringList{"restore", "Gone", "--as-of", "2"};
    }

    void killed()
    {
        QFETCH(QStringList, command);
        command.replaceInStrings("%1", mClassFile);
        const QMap<QString, QString> before = contents(mTemplate.dataPath());

        // One run to the end gives the state after, the time the command takes
        // and the time its write transaction takes.
        const DataDir done(&mTemplate);
        const Timing full = timedRun(done.location(), command);
        QCOMPARE(full.exitCode, 0);
        const QMap<QString, QString> after = contents(done.dataPath());
        QVERIFY(after != before);

        // Killed inside the write for certain: held before its COMMIT, with every
        // row written and the lock held.
        const DataDir heldCopy(&mTemplate);
        const Timing held = timedRun(heldCopy.location(), command, -1, false, true);
        QVERIFY(held.exitCode == -1 && held.lockHeld);
        QCOMPARE(contents(heldCopy.dataPath()), before);

        // Every other kill is timed from the start of the process, the others from
        // the moment the write began, so that many land inside the write.
        QRandomGenerator random(20261206);
        int kills = 0, unchanged = 0;
        for (int i = 0; i < kKillsPerCommand; ++i) {
            const DataDir copy(&mTemplate);
            const bool fromWrite = i % 2;
            const qint64 span = fromWrite ? full.writing : full.total;
            const int step = i / 2, steps = kKillsPerCommand / 2;
            const auto delayUs = qint64((step + random.generateDouble()) * double(span) / steps);
            const Timing run = timedRun(copy.location(), command, delayUs, fromWrite);
            QVERIFY(run.exitCode == -1 || run.exitCode == 0); // killed, or done before
            kills += run.exitCode == -1;
            const QMap<QString, QString> now = contents(copy.dataPath());
            QVERIFY2(now == before || now == after, // else say when it was killed
                     qPrintable(QString::asprintf("%lld us after the %s", qlonglong(delayUs),
                                                  fromWrite ? "write began" : "start")));
            unchanged += now == before;
        }
        qInfo("%s: %d kills in a run of %lld us (writing %lld us), %d left it unchanged",
              qPrintable(command.first()), kills, full.total, full.writing, unchanged);
    }
};

QTEST_MAIN(tst_CrashSafety)
#include "tst_crashsafety.moc"
