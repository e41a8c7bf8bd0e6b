#include "core/startup.h"
#include "scriptedprompter.h"
#include "store/serverurl.h"
#include "testsupport.h"
#include "ui/config/firstrun.h"
#include "ui/config/frmconfig.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

namespace
{

// Nothing listens there: a connection is refused at once.
const QString kNoServer = QStringLiteral("postgresql://tarn@127.0.0.1:1/team");
const QString kSecret = QStringLiteral("s3cret-Pa55");
const QString kPasswordRole = QStringLiteral("tarn_pw");

// The test server's state folder (tests/pgserver), where its port and data are.
QString serverState()
{
    return QFileInfo(qEnvironmentVariable("TARN_TEST_DATABASE")).absolutePath();
}

QString serverFile(const QString &name)
{
    return QString::fromUtf8(readFile(QDir(serverState()).filePath(name))).trimmed();
}

QStringList namesIn(AppState &state)
{
    const Result<QStringList> names = state.data().packageNames();
    return names ? *names : QStringList{QStringLiteral("(failed: %1)").arg(names.message())};
}

// The address with a password written into it, as a user may type it.
QString withPassword(const QString &url, const QString &password)
{
    QString typed = url;
    const qsizetype at = typed.indexOf(u'@');
    return typed.insert(at, u':' + password);
}

} // namespace

class tst_TeamConnect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void connectAndBack_data();
    void connectAndBack();
    void passwordPrompt_data();
    void passwordPrompt();
    void startingLocation_data();
    void startingLocation();
    void unreachableAtStart_data();
    void unreachableAtStart();

private:
    // A window on the local files, with the team database beside it.
    struct Fixture {
        Fixture()
        {
            QVERIFY(createDataFiles(AppState(local.path()), true));
            localState = std::make_unique<AppState>(local.path());
            QVERIFY(startUp(*localState).status);
            localNames = namesIn(*localState);
            if (onTestServer()) {
                team = std::make_unique<ServerDatabase>();
                QVERIFY(createDataFiles(AppState(team->url()), true));
                AppState writer(team->url());
                QVERIFY(startUp(writer).status);
                QVERIFY(writer.data().createPackage(QStringLiteral("Team Alpha")));
                teamNames = namesIn(writer);
            }
            window = std::make_unique<frmConfig>(*localState, prompter);
            window->setLocalFolder(local.path());
        }
        QStringList names() const
        {
            QStringList n;
            auto *list = child<QListWidget>(window.get(), "classlist");
            for (int i = 0; i < list->count(); ++i)
                n << list->item(i)->text();
            return n;
        }
        QString statusLine() const { return child<QLabel>(window.get(), "lblDatabase")->text(); }
        void trigger(const char *action) { child<QAction>(window.get(), action)->trigger(); }

        QTemporaryDir local;
        std::unique_ptr<AppState> localState;
        std::unique_ptr<ServerDatabase> team;
        QStringList localNames, teamNames;
        ScriptedPrompter prompter;
        std::unique_ptr<frmConfig> window;
    };

    // Nothing the user can see or the program keeps holds the password.
    static void checkSecretKept(const Fixture &f)
    {
        QVERIFY(!QString::fromUtf8(readFile(rememberedLocationFile())).contains(kSecret));
        QVERIFY(!f.statusLine().contains(kSecret));
        QVERIFY(!f.window->windowTitle().contains(kSecret));
        for (const ScriptedPrompter::Call &call : f.prompter.calls())
            QVERIFY2(!call.text.contains(kSecret), qPrintable(call.text));
    }
};

void tst_TeamConnect::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    qunsetenv("TARN_DATABASE");
    qunsetenv("PGPASSWORD");
    if (!onTestServer())
        return;
    // A role that must give a password over TCP: the test server trusts
    // everyone else. The first matching line of pg_hba.conf wins.
    Database admin;
    QVERIFY(admin.open(testServer()));
    std::ignore = admin.exec(QStringLiteral("DROP ROLE IF EXISTS %1").arg(kPasswordRole));
    QVERIFY(admin.exec(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2' IN ROLE tarn")
                           .arg(kPasswordRole, kSecret)));
    const QString hba = QDir(serverFile(QStringLiteral("dir"))).filePath("data/pg_hba.conf");
    const QByteArray rules = readFile(hba);
    if (!rules.startsWith("host all " + kPasswordRole.toUtf8()))
        writeFile(hba,
                  "host all " + kPasswordRole.toUtf8() + " 127.0.0.1/32 scram-sha-256\n" + rules);
    QVERIFY(admin.exec(QStringLiteral("SELECT pg_reload_conf()")));
}

void tst_TeamConnect::init()
{
    QFile::remove(rememberedLocationFile());
}

void tst_TeamConnect::cleanupTestCase()
{
    QFile::remove(rememberedLocationFile());
    if (!onTestServer())
        return;
    Database admin;
    if (admin.open(testServer()))
        std::ignore = admin.exec(QStringLiteral("DROP ROLE IF EXISTS %1").arg(kPasswordRole));
}

void tst_TeamConnect::connectAndBack_data()
{
    // {team}: the team database's address; {no database}: one the server lacks
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("needsServer");
    QTest::addColumn<QString>("refusal"); // part of the message; empty: it connects
    QTest::newRow("team database") << "{team}" << true << "";
    QTest::newRow("password in the address") << "{team with password}" << true << "";
    QTest::newRow("spaces around") << "  {team} " << true << "";
    QTest::newRow("another scheme")
        << "mysql://tarn@host/team" << false << "it must start with postgresql://";
    QTest::newRow("no database name")
        << "postgresql://tarn@localhost" << false << "the database name is missing";
    QTest::newRow("port out of range")
        << "postgresql://tarn@localhost:70000/team" << false << "70000";
    QTest::newRow("nobody listening") << kNoServer << false << "127.0.0.1";
    QTest::newRow("no such database") << "{no database}" << true << "does not exist";
}

void tst_TeamConnect::connectAndBack()
{
    QFETCH(QString, address);
    QFETCH(bool, needsServer);
    QFETCH(QString, refusal);
    if (needsServer && !onTestServer())
        QSKIP("needs the test server");
    Fixture f;
    const QString teamUrl = f.team ? f.team->url() : QString();
    if (f.team) {
        ServerUrl gone = *parseServerUrl(teamUrl);
        gone.dbname += QStringLiteral("_gone");
        address.replace("{team with password}", withPassword(teamUrl, kSecret))
            .replace("{no database}", gone.shown())
            .replace("{team}", teamUrl);
    }
    f.prompter.answerInput(address);
    f.trigger("mnuConnect");
    QCOMPARE(f.prompter.unexpectedCalls(), 0);
    checkSecretKept(f);

    if (!refusal.isEmpty()) {
        // The program goes on with the local files, as if nothing was asked.
        const QString message = f.prompter.lastMessage();
        QVERIFY2(message.contains(refusal), qPrintable(message));
        QVERIFY2(message.contains(f.local.path()), qPrintable(message));
        QCOMPARE(f.localState->location(), f.local.path());
        QCOMPARE(f.names(), f.localNames);
        QCOMPARE(rememberedLocation(), QString());
        return;
    }
    QVERIFY2(f.prompter.messages().isEmpty(), qPrintable(f.prompter.lastMessage()));
    QCOMPARE(f.names(), f.teamNames);
    QVERIFY(f.localState->onServer());
    QVERIFY2(f.statusLine().contains(teamUrl), qPrintable(f.statusLine()));
    // The next start opens the team database, unless told otherwise.
    QCOMPARE(rememberedLocation(), teamUrl);
    QCOMPARE(*chooseLocation({}, {}, rememberedLocation()), teamUrl);
    // Commands work on the team database.
    f.prompter.answerInput(QStringLiteral("Made in the window"));
    child<QPushButton>(f.window.get(), "btNew")->click();
    QVERIFY(f.names().contains("Made in the window"));
    {
        AppState other(teamUrl);
        QVERIFY(startUp(other).status);
        QVERIFY(namesIn(other).contains("Made in the window"));
    }

    f.trigger("mnuLocalFiles");
    QCOMPARE(f.prompter.unexpectedCalls(), 0);
    QCOMPARE(f.names(), f.localNames);
    QCOMPARE(f.localState->location(), f.local.path());
    QVERIFY2(f.statusLine().contains(QDir::toNativeSeparators(f.local.path())),
             qPrintable(f.statusLine()));
    QCOMPARE(rememberedLocation(), QString());
}

void tst_TeamConnect::passwordPrompt_data()
{
    QTest::addColumn<QStringList>("passwords"); // typed in turn; empty: Cancel
    QTest::addColumn<bool>("connects");
    QTest::newRow("right") << QStringList{kSecret} << true;
    QTest::newRow("wrong, then right") << QStringList{"guess", kSecret} << true;
    QTest::newRow("wrong, then cancel") << QStringList{"guess", ""} << false;
    QTest::newRow("cancel") << QStringList{""} << false;
}

void tst_TeamConnect::passwordPrompt()
{
    QFETCH(QStringList, passwords);
    QFETCH(bool, connects);
    if (!onTestServer())
        QSKIP("needs the test server");
    Fixture f;
    const QString address = QStringLiteral("postgresql://%1@127.0.0.1:%2/%3")
                                .arg(kPasswordRole, serverFile("port"), f.team->name());
    f.prompter.answerInput(address);
    for (const QString &password : passwords)
        f.prompter.answerPassword(password);
    f.trigger("mnuConnect");
    QCOMPARE(f.prompter.unexpectedCalls(), 0);
    QVERIFY(f.prompter.allAnswersUsed());
    checkSecretKept(f);
    QStringList prompts;
    for (const ScriptedPrompter::Call &call : f.prompter.calls())
        if (call.kind == ScriptedPrompter::Call::Password)
            prompts << call.text;
    QCOMPARE(prompts.size(), passwords.size());
    QVERIFY2(prompts.first().contains(address), qPrintable(prompts.first()));
    if (prompts.size() > 1)
        QVERIFY2(prompts.last().contains("refused"), qPrintable(prompts.last()));
    QCOMPARE(f.localState->onServer(), connects);
    QCOMPARE(f.names(), connects ? f.teamNames : f.localNames);
    QCOMPARE(rememberedLocation(), connects ? address : QString());
    if (!connects)
        QVERIFY2(f.prompter.lastMessage().contains("password"),
                 qPrintable(f.prompter.lastMessage()));
}

void tst_TeamConnect::startingLocation_data()
{
    QTest::addColumn<QString>("dataDir");     // null: no --data-dir
    QTest::addColumn<QString>("database");    // null: no --database
    QTest::addColumn<QString>("environment"); // TARN_DATABASE
    QTest::addColumn<QString>("remembered");
    QTest::addColumn<QString>("expected"); // empty: the default folder
    const QString a = QStringLiteral("postgresql://a@h/one");
    const QString b = QStringLiteral("postgresql://b@h/two");
    const QString c = QStringLiteral("postgresql://c@h/three");
    QTest::newRow("remembered") << QString() << QString() << "" << a << a;
    QTest::newRow("nothing remembered") << QString() << QString() << ""
                                        << ""
                                        << "";
    QTest::newRow("environment wins") << QString() << QString() << b << a << b;
    QTest::newRow("--database wins") << QString() << c << b << a << c;
    QTest::newRow("--data-dir wins") << "/tmp/x" << QString() << "" << a << "/tmp/x";
    QTest::newRow("remembered text spoilt") << QString() << QString() << ""
                                            << "postgresql://h"
                                            << "";
}

void tst_TeamConnect::startingLocation()
{
    QFETCH(QString, dataDir);
    QFETCH(QString, database);
    QFETCH(QString, environment);
    QFETCH(QString, remembered);
    QFETCH(QString, expected);
    qputenv("TARN_DATABASE", environment.toUtf8());
    const Result<QString> location = chooseLocation(dataDir, database, remembered);
    qunsetenv("TARN_DATABASE");
    QVERIFY(location);
    QCOMPARE(*location, expected.isEmpty() ? defaultDataDir() : expected);
}

void tst_TeamConnect::unreachableAtStart_data()
{
    QTest::addColumn<bool>("remembered"); // false: asked for on the command line
    QTest::addColumn<int>("choice");      // the answer to the offer of the local files
    QTest::addColumn<bool>("opens");
    QTest::newRow("remembered, local files chosen") << true << 0 << true;
    QTest::newRow("remembered, quit") << true << 1 << false;
    QTest::newRow("remembered, box closed") << true << -1 << false;
    QTest::newRow("named on the command line") << false << -1 << false;
}

void tst_TeamConnect::unreachableAtStart()
{
    QFETCH(bool, remembered);
    QFETCH(int, choice);
    QFETCH(bool, opens);
    QTemporaryDir local;
    QVERIFY(createDataFiles(AppState(local.path()), true));
    ScriptedPrompter prompter;
    if (remembered)
        prompter.answerChoice(choice);

    const std::unique_ptr<AppState> state =
        openForWindows(kNoServer, remembered, local.path(), prompter);

    QCOMPARE(prompter.unexpectedCalls(), 0);
    QVERIFY(prompter.allAnswersUsed());
    // Whatever is asked names the database that could not be reached.
    QVERIFY2(prompter.calls().first().text.contains(kNoServer),
             qPrintable(prompter.calls().first().text));
    QCOMPARE(bool(state), opens);
    if (state) {
        QCOMPARE(state->location(), local.path());
        QVERIFY(!namesIn(*state).isEmpty());
    }
}

QTEST_MAIN(tst_TeamConnect)
#include "tst_teamconnect.moc"
