#include "testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <QThread>

#include <optional>

using namespace tarn;
using namespace tarn::test;

// tarn-cli import, copy and delete on a large configuration, killed with
// SIGKILL at many moments of their run: afterwards the data file must pass
// its integrity check and hold the configurations exactly as before the
// command or exactly as after it, never anything in between.
class tst_CrashSafety : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void killed_data();
    void killed();

private:
    QTemporaryDir mTemplate; // the data files with the large configuration
    QString mClassFile;
};

namespace
{

constexpr int kClasses = 10000;
constexpr int kKillsPerCommand = 24;

// A configuration name -> its package row count, class count and a digest of
// its classes (every column but package_name, in class order); classes
// without a package row show up under their own name with no package row.
using Fingerprint = QMap<QString, QString>;

Fingerprint fingerprint(const QString &dataPath)
{
    Peek peek(dataPath);
    Fingerprint result;
    for (const QVariantMap &row :
         peek.rows(QStringLiteral("SELECT package_name, count(*) AS n FROM package "
                                  "GROUP BY package_name")))
        result[row.value("package_name").toString()] =
            QStringLiteral("%1 package rows").arg(row.value("n").toInt());
    QSqlQuery query(peek.connection());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT * FROM classdef ORDER BY package_name, class_num, "
                                   "rowid")))
        qFatal("cannot read classdef");
    QString name;
    QCryptographicHash hash(QCryptographicHash::Sha1);
    int count = 0;
    int columns = 0;
    auto close = [&]() {
        if (count)
            result[name] += QStringLiteral(", %1 classes %2")
                                .arg(count)
                                .arg(QString::fromLatin1(hash.result().toHex()));
    };
    while (query.next()) {
        if (!columns)
            columns = query.record().count();
        const QString package = query.value(0).toString();
        if (package != name || !count) {
            close();
            name = package;
            hash.reset();
            count = 0;
        }
        ++count;
        for (int i = 1; i < columns; ++i)
            hash.addData(
                (query.isNull(i) ? QStringLiteral("\x01") : query.value(i).toString()).toUtf8() +
                '\x1f');
    }
    close();
    return result;
}

QString integrity(const QString &dataPath)
{
    return Peek(dataPath).scalar(QStringLiteral("PRAGMA integrity_check")).toString();
}

// A copy of the template's data files in a fresh directory.
void copyFiles(const QString &from, const QString &to)
{
    for (const QString &file : {QStringLiteral("tarn_dat.mdb"), QStringLiteral("tarn_ref.mdb")})
        QVERIFY(QFile::copy(QDir(from).filePath(file), QDir(to).filePath(file)));
}

QByteArray largeClassFile(int classes)
{
    QByteArray file = "V3 crash\r\nLarge\r\n";
    for (int i = 1; i <= classes; ++i) {
        file += QStringLiteral("\r\n[Class %1]\r\nmodel%2 red%3 blue%4 %5\r\n")
                    .arg(i)
                    .arg(i % 7)
                    .arg(i % 5)
                    .arg(i % 3)
                    .arg(i % 10)
                    .toLatin1();
        for (int k = 1; k <= 10; ++k)
            file += QByteArray::number((i + k) % 8) + (k < 10 ? " " : "\r\n");
        file += QStringLiteral("%1 %2 %3\r\n%4 %5 %6  %7  %8\r\n")
                    .arg(i % 4)
                    .arg((i + 1) % 4)
                    .arg((i + 2) % 4)
                    .arg(i % 200)
                    .arg(300 + i % 100)
                    .arg(100 + i % 50)
                    .arg((i * 7919) % 2147483647)
                    .arg(i % 512)
                    .toLatin1();
        for (int k = 1; k <= 6; ++k)
            file += QByteArray::number((i * k) % 1000) + (k < 6 ? " " : "\r\n");
    }
    return file;
}

int runCli(const QString &dataDir, const QStringList &args)
{
    QProcess cli;
    cli.start(QStringLiteral(TARN_CLI), QStringList{"--data-dir", dataDir} + args);
    if (!cli.waitForFinished(120000))
        return -1;
    return cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
}

struct Kill {
    qint64 delayUs;
    bool fromJournal; // count the delay from the journal's appearance
};

struct Timing {
    int exitCode = -1;  // -1: killed
    qint64 total = 0;   // us from start to end
    qint64 writing = 0; // us from the journal's appearance to the end
};

// Runs tarn-cli, killing it with SIGKILL when asked, and times it; polls for
// the data file's journal, which exists while a write transaction is open.
Timing timedRun(const QString &dataDir, const QStringList &args, std::optional<Kill> kill)
{
    const QString journal = QDir(dataDir).filePath(QStringLiteral("tarn_dat.mdb-journal"));
    QProcess cli;
    QElapsedTimer clock;
    clock.start();
    cli.start(QStringLiteral(TARN_CLI), QStringList{"--data-dir", dataDir} + args);
    if (!cli.waitForStarted())
        return {};
    qint64 journalAt = -1;
    Timing timing;
    while (cli.state() == QProcess::Running && !cli.waitForFinished(0)) {
        const qint64 now = clock.nsecsElapsed() / 1000;
        if (journalAt < 0 && QFileInfo::exists(journal))
            journalAt = now;
        if (kill) {
            const qint64 from = kill->fromJournal ? journalAt : 0;
            if (from >= 0 && now - from >= kill->delayUs) {
                cli.kill();
                cli.waitForFinished(60000);
                return timing;
            }
        }
        QThread::usleep(100);
    }
    timing.total = clock.nsecsElapsed() / 1000;
    timing.writing = journalAt < 0 ? 0 : timing.total - journalAt;
    timing.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    return timing;
}

} // namespace

void tst_CrashSafety::initTestCase()
{
    QVERIFY(mTemplate.isValid());
    DataDir sample;
    copyFiles(sample.path(), mTemplate.path());
    mClassFile = QDir(mTemplate.path()).filePath(QStringLiteral("large.class"));
    writeFile(mClassFile, largeClassFile(kClasses));
    QCOMPARE(runCli(mTemplate.path(), {"import", "Large", mClassFile}), 0);
    QCOMPARE(Peek(QDir(mTemplate.path()).filePath("tarn_dat.mdb"))
                 .scalar("SELECT count(*) FROM classdef WHERE package_name = 'Large'")
                 .toInt(),
             kClasses);
}

void tst_CrashSafety::killed_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::newRow("import") << QStringList{"import", "Imported", "%1"};
    QTest::newRow("copy") << QStringList{"copy", "Large", "Copied"};
    QTest::newRow("delete") << QStringList{"delete", "Large"};
}

void tst_CrashSafety::killed()
{
    QFETCH(QStringList, command);
    command.replaceInStrings(QStringLiteral("%1"), mClassFile);
    const QString templateData = QDir(mTemplate.path()).filePath(QStringLiteral("tarn_dat.mdb"));
    const Fingerprint before = fingerprint(templateData);

    // One run to the end gives the state after, the time the command takes
    // and the time its write transaction takes.
    Fingerprint after;
    Timing full;
    {
        QTemporaryDir dir;
        copyFiles(mTemplate.path(), dir.path());
        full = timedRun(dir.path(), command, {});
        QCOMPARE(full.exitCode, 0);
        after = fingerprint(QDir(dir.path()).filePath(QStringLiteral("tarn_dat.mdb")));
    }
    QVERIFY(after != before);
    QVERIFY(full.writing > 0);

    // Every other kill is timed from the start of the process, the others from
    // the moment the journal appears, so that many land inside the write.
    QRandomGenerator random(20261206);
    int kills = 0, unchanged = 0, done = 0, inWrite = 0;
    for (int i = 0; i < kKillsPerCommand; ++i) {
        QTemporaryDir dir;
        copyFiles(mTemplate.path(), dir.path());
        const bool fromJournal = i % 2;
        const qint64 span = fromJournal ? full.writing : full.total;
        const int step = i / 2, steps = kKillsPerCommand / 2;
        const auto delayUs = qint64((step + random.generateDouble()) * double(span) / steps);
        const Timing run = timedRun(dir.path(), command, Kill{delayUs, fromJournal});
        QVERIFY(run.exitCode == -1 || run.exitCode == 0); // killed, or done before
        kills += run.exitCode == -1;

        const QString data = QDir(dir.path()).filePath(QStringLiteral("tarn_dat.mdb"));
        const bool hotJournal = QFileInfo(data + QStringLiteral("-journal")).size() > 0;
        QCOMPARE(integrity(data), QStringLiteral("ok"));
        const Fingerprint now = fingerprint(data);
        QVERIFY2(now == before || now == after,
                 qPrintable(QStringLiteral("killed %1 us after %2: neither the state before nor "
                                           "the state after")
                                .arg(delayUs)
                                .arg(fromJournal ? "the journal appeared" : "the start")));
        (now == before ? unchanged : done)++;
        inWrite += hotJournal;
    }
    qInfo("%s: %d kills over a run of %lld us (writing %lld us): %d inside the write; %d "
          "left it unchanged, %d found it done",
          qPrintable(command.first()), kills, full.total, full.writing, inWrite, unchanged, done);
    QVERIFY(inWrite > 0);
}

QTEST_MAIN(tst_CrashSafety)
#include "tst_crashsafety.moc"
