#include "store/database.h"
#include "store/serverengine.h"
#include "store/serverurl.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

// The link to a server: one that goes dead (a pulled cable) ends the waiting
// command within the bound and stores all or nothing; a server's TLS
// certificate is verified.
class tst_NetLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TARN_ANSWER_TIMEOUT_MS", QByteArray::number(kBoundMs)); }
    void deadLink_data();
    void deadLink();
    void verified_data();
    void verified();
    void cleanupTestCase();

private:
    static constexpr int kBoundMs = 1500;
    QTemporaryDir mTlsFiles, mTlsState; // the certificates; the TLS server's state
    bool mTlsStarted = false;
};

namespace
{

// tools/latency-proxy between the tests and a server, for as long as this lives.
class Proxy
{
public:
    Proxy(int serverPort, int delayMs)
    {
        mProcess.start("python3", {TARN_PROXY, "--listen", "0", "--to",
                                   QStringLiteral("127.0.0.1:%1").arg(serverPort), "--state",
                                   mState.path(), "--delay-ms", QString::number(delayMs)});
        for (int i = 0; i < 100 && !QFile::exists(mState.filePath("port")); ++i)
            QTest::qWait(50);
        port = readFile(mState.filePath("port")).trimmed().toInt();
    }
    ~Proxy()
    {
        mProcess.terminate();
        mProcess.waitForFinished();
    }
    void setDead(bool dead)
    {
        if (dead)
            writeFile(mState.filePath("dead"), {});
        else
            QFile::remove(mState.filePath("dead"));
        QTest::qWait(dead ? 0 : 300); // the closes held meanwhile reach the server
    }
    int port = 0;

private:
    QTemporaryDir mState;
    QProcess mProcess;
};

// Where the link dies.
enum class Stage { Connecting, MidWrite, Commit, Command };

struct DeadRow {
    const char *name;
    Stage stage;
};

} // namespace

void tst_NetLink::deadLink_data()
{
    addRows<DeadRow>({{"connecting", Stage::Connecting},
                      {"a write's statement", Stage::MidWrite},
                      {"COMMIT", Stage::Commit},
                      {"tarn-cli copy, mid-command", Stage::Command}});
}

void tst_NetLink::deadLink()
{
    QFETCH(DeadRow, row);
    if (!onTestServer())
        QSKIP("needs the test server");
    const DataDir dir;
    Result<ServerUrl> server = parseServerUrl(dir.location());
    QVERIFY(server);
    Proxy proxy(server->port, row.stage == Stage::Command ? 40 : 0);
    QVERIFY(proxy.port > 0);
    server->host = "127.0.0.1";
    server->port = proxy.port;
    const QString url = server->shown();
    const Peek peek(dir.location());
    const auto copies = [&] {
        return peek.count("package WHERE package_name = 'Copied'") +
               peek.count("classdef WHERE package_name = 'Copied'");
    };
    const qint64 classes = peek.count("classdef WHERE package_name = 'Sample Config'");
    const QString copy =
        QStringLiteral("INSERT INTO classdef (package_name, class_name) SELECT 'Copied', "
                       "class_name FROM classdef WHERE package_name = 'Sample Config'");

    Database db;
    QElapsedTimer clock;
    qint64 took = 0;
    Status lost = Status::success();
    if (row.stage == Stage::Connecting) {
        proxy.setDead(true);
        clock.start();
        lost = db.open(url);
        took = clock.elapsed();
    } else if (row.stage == Stage::Command) {
        const QTemporaryDir seam;
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TARN_TEST_WRITE_BEGUN", seam.filePath("begun"));
        cli.setProcessEnvironment(env);
        cli.start(TARN_CLI, {"--database", url, "copy", "Sample Config", "Copied"});
        for (int i = 0; i < 500 && !QFile::exists(seam.filePath("begun")); ++i)
            QTest::qWait(10);
        proxy.setDead(true);
        clock.start();
        QVERIFY(cli.waitForFinished(kBoundMs + 5000));
        took = clock.elapsed();
        QCOMPARE(cli.exitCode(), 1);
        const QString err = QString::fromUtf8(cli.readAllStandardError());
        QVERIFY2(err.contains("not answering"), qPrintable(err));
        lost = Status::failure(Fault::ConnectionLost, err);
    } else {
        QVERIFY(db.open(url));
        Transaction write(db);
        QVERIFY(write.begin({}));
        QVERIFY(db.exec("INSERT INTO package (package_name) VALUES ('Copied')"));
        if (row.stage == Stage::MidWrite) {
            proxy.setDead(true);
            clock.start();
            lost = db.exec(copy);
            took = clock.elapsed();
        } else {
            QVERIFY(db.exec(copy));
            proxy.setDead(true);
            clock.start();
            lost = write.commit({});
            took = clock.elapsed();
            // Nothing can say whether the server stored it.
            QVERIFY2(!lost.message().contains("nothing of this command was stored"),
                     qPrintable(lost.message()));
        }
    }
    QCOMPARE(lost.fault(), Fault::ConnectionLost);
    QVERIFY2(took >= kBoundMs - 100 && took < kBoundMs + 3000, qPrintable(QString::number(took)));
    // The rollback of the transaction, where there is one, does not wait again.
    QVERIFY(clock.elapsed() < took + 500);

    proxy.setDead(false);
    QCOMPARE(copies(), 0);
    if (row.stage == Stage::Command) {
        QProcess again;
        again.start(TARN_CLI, {"--database", url, "copy", "Sample Config", "Copied"});
        QVERIFY(again.waitForFinished(30000));
        QCOMPARE(again.exitCode(), 0);
    } else {
        if (!db.isOpen())
            QVERIFY(db.open(url));
        QVERIFY(db.exec("INSERT INTO package (package_name) VALUES ('Copied')"));
        QVERIFY(db.exec(copy));
    }
    QCOMPARE(copies(), 1 + classes);
}

namespace
{

struct TlsRow {
    const char *name;
    const char *host;     // the certificate is for localhost
    const char *rootCert; // ca.crt signed it
    Fault fault;
};

// Runs a command line; true when it exits 0.
bool ran(const QString &program, const QStringList &args, const QString &in,
         const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setWorkingDirectory(in);
    process.setProcessEnvironment(env);
    process.start(program, args);
    return process.waitForFinished(120000) && process.exitCode() == 0;
}

} // namespace

void tst_NetLink::verified_data()
{
    addRows<TlsRow>({{"verified", "localhost", "ca.crt", Fault::None},
                     {"another host name", "127.0.0.1", "ca.crt", Fault::Refused},
                     {"another authority", "localhost", "other.crt", Fault::Refused}});
}

// A server of its own with ssl=on and a certificate for localhost.
void tst_NetLink::verified()
{
    QFETCH(TlsRow, row);
    const QTemporaryDir &files = mTlsFiles, &state = mTlsState;
    const QString dir = files.path();
    if (!mTlsStarted) {
        const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
        for (const char *ca : {"ca", "other"})
            QVERIFY(
                ran("openssl",
                    QStringList{"req", "-x509", "-days", "2", "-subj",
                                QStringLiteral("/CN=Test %1").arg(ca), "-keyout",
                                ca + QStringLiteral(".key"), "-out", ca + QStringLiteral(".crt")} +
                        ec,
                    dir));
        writeFile(files.filePath("ext"), "subjectAltName=DNS:localhost\n");
        QVERIFY(ran("openssl",
                    QStringList{"req", "-subj", "/CN=localhost", "-keyout", "server.key", "-out",
                                "server.csr"} +
                        ec,
                    dir));
        QVERIFY(ran("openssl",
                    {"x509", "-req", "-in", "server.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
                     "-CAcreateserial", "-days", "2", "-extfile", "ext", "-out", "server.crt"},
                    dir));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TARN_PG_SSL", dir);
        QVERIFY(ran(TARN_PGSERVER, {"start", state.path()}, dir, env));
        mTlsStarted = true;
    }
    const QString url =
        QStringLiteral("postgresql://tarn@%1:%2/postgres?sslmode=verify-full&sslrootcert=%3")
            .arg(row.host, readFile(state.filePath("port")).trimmed(),
                 files.filePath(row.rootCert));
    const Result<ServerUrl> server = parseServerUrl(url);
    QVERIFY2(server, qPrintable(server.message()));
    Result<std::unique_ptr<Engine>> engine = openServerDatabase(*server, {});
    QCOMPARE(engine.fault(), row.fault);
    if (!engine) {
        QVERIFY2(engine.message().contains("sslrootcert"), qPrintable(engine.message()));
        return;
    }
    Result<std::unique_ptr<ResultRows>> tls =
        (*engine)->run("SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()", {});
    QVERIFY(tls && (*tls)->next());
    QCOMPARE((*tls)->value(0), QVariant(true));
}

void tst_NetLink::cleanupTestCase()
{
    if (mTlsStarted)
        ran(TARN_PGSERVER, {"stop", mTlsState.path()}, mTlsState.path());
}

QTEST_MAIN(tst_NetLink)
#include "tst_netlink.moc"
