// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/database.h"
#include "store/recordcursor.h"
#include "store/serverengine.h"
#include "store/serverurl.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

using namespace tarn;
using namespace tarn::test;

namespace
{

constexpr int kBoundMs = 1500;

bool ran(const QString &program, const QStringList &args, const QByteArray &ssl = {})
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TARN_PG_SSL", ssl);
    process.setProcessEnvironment(env);
    process.start(program, args);
    return process.waitForFinished(120000) && process.exitCode() == 0;
}

// tools/latency-proxy between a test and the server, while this lives.
// Between the client and server, which it then names for the client.
struct Proxy {
    Proxy(ServerUrl &server, int delayMs)
    {
        proxy.start("python3", {TARN_PROXY, "--listen", "0", "--to",
                                QStringLiteral("127.0.0.1:%1").arg(server.port), "--state",
                                state.path(), "--delay-ms", QString::number(delayMs)});
        for (int i = 0; i < 100 && !QFile::exists(state.filePath("port")); ++i)
            QTest::qWait(50);
        server.host = "127.0.0.1";
        server.port = readFile(state.filePath("port")).trimmed().toInt();
    }
    int trips() const { return readFile(state.filePath("trips")).trimmed().toInt(); }
    ~Proxy()
    {
        proxy.kill();
        proxy.waitForFinished();
    }
    void setDead(bool dead)
    {
        if (dead)
            return writeFile(state.filePath("dead"), {});
        QFile::remove(state.filePath("dead"));
        QTest::qWait(300); // a close held meanwhile reaches the server
    }
    QTemporaryDir state;
    QProcess proxy;
};

enum class Stage { Connecting, Statement, Commit, Command }; // where the link dies

struct DeadRow {
    const char *name;
    Stage stage;
};

struct TripRow {
    const char *name;
    QStringList args;
    int most; // round trips
};

enum class Meanwhile { Nothing, OtherField, SameField, Deleted };

struct WriteBackRow {
    const char *name;
    Meanwhile meanwhile; // what another client did since the row was shown
    bool typedOtherwise; // a shown value of another kind than its column's
    WriteOutcome::Kind outcome;
    int trips;
};

struct TlsRow {
    const char *name;
    const char *host;     // the certificate is for localhost
    const char *rootCert; // ca.crt signed it
    const char *more;     // further parameters
    Fault fault;
    const char *says;
};

} // namespace

// A link gone dead (a pulled cable) ends the waiting command within the bound
// and stores all or nothing; a server's TLS certificate is verified.
class tst_NetLink : public QObject
{
    Q_OBJECT

    QTemporaryDir mCerts, mTls; // the TLS server's certificates and state

private slots:
    void initTestCase()
    {
        if (!onTestServer())
            QSKIP("needs the test server");
        qputenv("TARN_ANSWER_TIMEOUT_MS", QByteArray::number(kBoundMs));
    }
    void cleanupTestCase() { ran(TARN_PGSERVER, {"stop", mTls.path()}); }

    void deadLink_data()
    {
        addRows<DeadRow>({{"connecting", Stage::Connecting},
                          {"a write's statement", Stage::Statement},
                          {"COMMIT", Stage::Commit},
                          {"tarn-cli copy", Stage::Command}});
    }
    void deadLink()
    {
        QFETCH(DeadRow, row);
        const DataDir dir;
        Result<ServerUrl> server = parseServerUrl(dir.location());
        Proxy proxy(*server, row.stage == Stage::Command ? 40 : 0);
        const QString url = server->shown(),
                      copy = "INSERT INTO classdef (package_name, class_name) SELECT 'Copied', "
                             "class_name FROM classdef WHERE package_name = 'Sample Config'";
        const Peek peek(dir.location());
        const auto copied = [&] {
            return peek.count("package WHERE package_name = 'Copied'") +
                   peek.count("classdef WHERE package_name = 'Copied'");
        };
        const QStringList cliCopy{"--database", url, "copy", "Sample Config", "Copied"};
        Database db;
        QElapsedTimer clock;
        Status lost = Status::success();
        if (row.stage == Stage::Command) { // the link dies once the write has begun
            QProcess cli;
            qputenv("TARN_TEST_WRITE_BEGUN", proxy.state.filePath("begun").toUtf8());
            cli.start(TARN_CLI, cliCopy);
            qunsetenv("TARN_TEST_WRITE_BEGUN");
            QTRY_VERIFY(QFile::exists(proxy.state.filePath("begun")));
            proxy.setDead(true);
            clock.start();
            QVERIFY(cli.waitForFinished(kBoundMs + 5000) && cli.exitCode() == 1);
            lost = Status::failure(Fault::ConnectionLost,
                                   QString::fromUtf8(cli.readAllStandardError()));
        } else if (row.stage == Stage::Connecting) {
            proxy.setDead(true);
            clock.start();
            lost = db.open(url);
        } else {
            QVERIFY(db.open(url));
            Transaction write(db);
            QVERIFY(write.begin({}) &&
                    db.exec("INSERT INTO package (package_name) VALUES ('Copied')"));
            QVERIFY(row.stage == Stage::Statement || db.exec(copy));
            proxy.setDead(true);
            clock.start();
            lost = row.stage == Stage::Statement ? db.exec(copy) : write.commit({});
            // The rollback that follows does not wait again.
        }
        const qint64 took = clock.elapsed();
        QCOMPARE(lost.fault(), Fault::ConnectionLost);
        QVERIFY2(took >= kBoundMs - 100 && took < kBoundMs + 2000, qPrintable(lost.message()));
        QVERIFY(lost.message().contains("not answering"));
        // At COMMIT, the server may or may not have stored it; a command's
        // last exchange carries its COMMIT.
        if (row.stage != Stage::Command)
            QCOMPARE(lost.message().contains("not known"), row.stage == Stage::Commit);

        proxy.setDead(false);
        QCOMPARE(copied(), 0);
        if (row.stage == Stage::Command)
            QVERIFY(ran(TARN_CLI, cliCopy));
        else
            QVERIFY((db.isOpen() || db.open(url)) &&
                    db.exec("INSERT INTO package (package_name) VALUES ('Copied')") &&
                    db.exec(copy));
        QCOMPARE(copied(), 1 + peek.count("classdef WHERE package_name = 'Sample Config'"));
    }

    // Every round trip a command takes costs a user far from the server a
    // delay each way: none beyond these.
    void roundTrips_data()
    {
        // TLS asked for and refused, the start-up, the catalog with what the
        // command reads first and the start of its write; a read's snapshot
        // ends in its own exchange, a write's COMMIT goes with the rest.
        addRows<TripRow>({{"list", {"list"}, 3},
                          {"new", {"new", "Added"}, 4},
                          {"copy", {"copy", "Sample Config", "Copied"}, 4},
                          {"delete", {"delete", "Sample Config"}, 4},
                          {"show", {"show", "Sample Config"}, 4},
                          {"export", {"export", "Sample Config", "%1"}, 4},
                          // Its rows, its checks and its COMMIT in one exchange.
                          {"import", {"import", "Imported", "%2"}, 5},
                          {"diff", {"diff", "Sample Config", "sample config"}, 4}});
    }
    void roundTrips()
    {
        QFETCH(TripRow, row);
        const DataDir dir;
        Result<ServerUrl> server = parseServerUrl(dir.location());
        Proxy proxy(*server, 0);
        writeFile(dir.file("in.class"), "V3 trips\r\nIn\r\n\r\n[Scout]\r\nmodel red blue 3\r\n"
                                        "1 2 3 4 5 6 7 0 0 0\r\n1 2 3\r\n1 300 100  7919  1\r\n"
                                        "100 25 10 2 50 5\r\n");
        QProcess cli;
        cli.start(TARN_CLI, QStringList{"--database", server->shown()} +
                                row.args.replaceInStrings("%1", dir.file("out.class"))
                                    .replaceInStrings("%2", dir.file("in.class")));
        QVERIFY(cli.waitForFinished(60000) && cli.exitCode() == 0);
        const int trips = proxy.trips();
        QVERIFY2(trips <= row.most, qPrintable(QString::number(trips)));
        QVERIFY(trips > 0);
    }

    // A write-back that finds the row as shown is one exchange, its records
    // and COMMIT in it; otherwise the row is read and compared, and nothing
    // of the first try is left.
    void writeBackTrips_data()
    {
        using K = WriteOutcome::Kind;
        addRows<WriteBackRow>(
            {{"as shown", Meanwhile::Nothing, false, K::Done, 1},
             {"as shown, a value typed otherwise", Meanwhile::Nothing, true, K::Done, 2},
             {"another field changed", Meanwhile::OtherField, false, K::Changed, 1},
             {"the same field changed", Meanwhile::SameField, false, K::Changed, 1},
             {"deleted", Meanwhile::Deleted, false, K::Gone, 1}});
    }
    void writeBackTrips()
    {
        QFETCH(WriteBackRow, row);
        const DataDir dir;
        Result<ServerUrl> server = parseServerUrl(dir.location());
        Proxy proxy(*server, 0);
        Database db;
        QVERIFY(db.open(server->shown()));
        RecordCursor cursor(db, RecordSource::classesOf("Sample Config"));
        QVERIFY(cursor.reload() && !cursor.keys().isEmpty());
        const RecordCursor::Key key = cursor.keys().first();
        const QStringList columns{"class_name", "max_speed", "max_health"};
        const Result<std::optional<QVariantList>> loaded = cursor.load(key, columns);
        QVERIFY(loaded && *loaded);
        RowValues shown{columns, **loaded};
        if (row.typedOtherwise)
            shown.values[1] = shown.values[1].toString();
        const Peek peek(dir.location());
        const QString where = QStringLiteral(" WHERE rowid = %1").arg(key);
        if (row.meanwhile == Meanwhile::OtherField)
            peek.exec("UPDATE classdef SET max_health = max_health + 1" + where);
        else if (row.meanwhile == Meanwhile::SameField)
            peek.exec("UPDATE classdef SET max_speed = max_speed + 1" + where);
        else if (row.meanwhile == Meanwhile::Deleted)
            peek.exec("DELETE FROM classdef" + where);
        const qint64 records = peek.count("history");
        const Result<bool> keeps = db.keepsHistory(); // read at start, as the windows do
        QVERIFY(keeps && *keeps);
        const int before = proxy.trips();
        const Result<WriteOutcome> outcome =
            cursor.store(key, {{"max_speed"}, {shown.values[1].toInt() + 7}}, shown);
        QVERIFY2(outcome, qPrintable(outcome.message()));
        QCOMPARE(outcome->kind, row.outcome);
        QTest::qWait(200); // the answer to a ROLLBACK nothing waits for
        QCOMPARE(proxy.trips() - before, row.trips);
        const bool done = row.outcome == WriteOutcome::Done;
        QCOMPARE(peek.count("history"), records + (done ? 1 : 0));
        if (done)
            QCOMPARE(peek.scalar("SELECT max_speed FROM classdef" + where).toInt(),
                     shown.values[1].toInt() + 7);
    }

    // More kinds of write-back than the connection keeps prepared: each is
    // still one exchange, and each stores its value.
    void manyKindsOfWriteBack()
    {
        const DataDir dir;
        Result<ServerUrl> server = parseServerUrl(dir.location());
        Proxy proxy(*server, 0);
        Database db;
        QVERIFY(db.open(server->shown()) && db.keepsHistory());
        RecordCursor cursor(db, RecordSource::classesOf("Sample Config"));
        QVERIFY(cursor.reload() && !cursor.keys().isEmpty());
        const RecordCursor::Key key = cursor.keys().first();
        QStringList columns;
        for (const schema::Column &c : schema::classdefColumns())
            if (c.kind != schema::Kind::Text)
                columns << QLatin1String(c.name);
        QVERIFY(columns.size() > 32); // more than are kept prepared
        const Peek peek(dir.location());
        const int before = proxy.trips();
        for (int round = 0; round < 2; ++round)
            for (const QString &column : columns) {
                const QVariant shown =
                    peek.scalar(QStringLiteral("SELECT %1 FROM classdef WHERE rowid = %2")
                                    .arg(column)
                                    .arg(key));
                const int value = 100 + round;
                const Result<WriteOutcome> stored =
                    cursor.store(key, {{column}, {value}}, {{column}, {shown}});
                QVERIFY2(stored && stored->kind == WriteOutcome::Done, qPrintable(column));
                QCOMPARE(peek.scalar(QStringLiteral("SELECT %1 FROM classdef WHERE rowid = %2")
                                         .arg(column)
                                         .arg(key))
                             .toInt(),
                         value);
            }
        QCOMPARE(proxy.trips() - before, 2 * columns.size());
    }

    void verified_data()
    {
        addRows<TlsRow>(
            {{"verified", "localhost", "ca.crt", "", Fault::None, ""},
             {"another host name", "127.0.0.1", "ca.crt", "", Fault::Refused, "sslrootcert"},
             {"another authority", "localhost", "other.crt", "", Fault::Refused, "sslrootcert"},
             {"a misspelt parameter", "localhost", "ca.crt", "&ssl_mode=disable", Fault::Refused,
              "'ssl_mode'"}});
    }
    // A server of its own with ssl=on and a certificate for localhost.
    void verified()
    {
        QFETCH(TlsRow, row);
        if (!QFile::exists(mTls.filePath("port")))
            QVERIFY(ran(TARN_PGSERVER, {"certs", mCerts.path()}) &&
                    ran(TARN_PGSERVER, {"start", mTls.path()}, mCerts.path().toUtf8()));
        const Result<ServerUrl> server = parseServerUrl(
            QStringLiteral("postgresql://tarn@%1:%2/postgres?sslmode=verify-full&sslrootcert=%3")
                .arg(row.host, readFile(mTls.filePath("port")).trimmed(),
                     mCerts.filePath(row.rootCert)) +
            row.more);
        Result<std::unique_ptr<Engine>> engine =
            server ? openServerDatabase(*server, {}) : server.status();
        QCOMPARE(engine.fault(), row.fault);
        if (!engine) {
            QVERIFY2(engine.message().contains(row.says), qPrintable(engine.message()));
            return;
        }
        auto tls = (*engine)->run("SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()", {});
        QVERIFY(tls && (*tls)->next() && (*tls)->value(0).toBool());
    }
};

QTEST_MAIN(tst_NetLink)
#include "tst_netlink.moc"
