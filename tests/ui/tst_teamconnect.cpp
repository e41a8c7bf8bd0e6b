#include "core/startup.h"
#include "scriptedprompter.h"
#include "store/serverurl.h"
#include "testsupport.h"
#include "ui/config/firstrun.h"
#include "ui/config/frmconfig.h"
#include "widgets.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
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

// A file of the test server's state folder (tests/pgserver): its port, its folder.
QString serverFile(const QString &name)
{
    const QDir state = QFileInfo(qEnvironmentVariable("TARN_TEST_DATABASE")).absoluteDir();
    return QString::fromUtf8(readFile(state.filePath(name))).trimmed();
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

// {team}: the team database's address; {no database}: one the server lacks.
struct Connect {
    const char *name;
    QString address;
    bool needsServer;
    QString refusal{}; // part of the message; empty: it connects
};

struct Password {
    const char *name;
    QStringList passwords; // typed in turn; empty: Cancel
    bool connects;
};

// Null: not given on the command line.
struct Start {
    const char *name;
    QString dataDir, database, environment, remembered;
    QString expected; // empty: the default folder
};

struct Unreachable {
    const char *name;
    bool remembered; // false: asked for on the command line
    int choice;      // the answer to the offer of the local files
    bool opens;
};

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
            return entries(child<QListWidget>(window.get(), "classlist"), true);
        }
        QString statusLine() const { return child<QLabel>(window.get(), "lblDatabase")->text(); }

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
    // The prompt must not hang on the server's words: the test server speaks German.
    Query language;
    QVERIFY(admin.exec(language, QStringLiteral("SHOW lc_messages")) && language.next());
    QVERIFY2(language.value(0).toString().startsWith("de"),
             "the test server should speak German; ./dev test makes the de_DE.UTF-8 locale");
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
    addRows<Connect>({
        {"team database", "{team}", true},
        {"password in the address", "{team with password}", true},
        {"spaces around", "  {team} ", true},
        {"another scheme", "mysql://tarn@host/team", false, "scheme 'mysql://' is not known"},
        {"no database name", "postgresql://tarn@localhost", false, "the database name is missing"},
        {"port out of range", "postgresql://tarn@localhost:70000/team", false, "70000"},
        {"nobody listening", withPassword(kNoServer, kSecret), false, "127.0.0.1"},
        {"no such database", "{no database}", true, "does not exist"},
    });
}

void tst_TeamConnect::connectAndBack()
{
    QFETCH(Connect, row);
    if (row.needsServer && !onTestServer())
        QSKIP("needs the test server");
    Fixture f;
    const QString teamUrl = f.team ? f.team->url() : QString();
    if (f.team) {
        ServerUrl gone = *parseServerUrl(teamUrl);
        gone.dbname += QStringLiteral("_gone");
        row.address.replace("{team with password}", withPassword(teamUrl, kSecret))
            .replace("{no database}", gone.shown())
            .replace("{team}", teamUrl);
    }
    f.prompter.answerInput(row.address);
    press(f.window.get(), "mnuConnect");
    QCOMPARE(f.prompter.unexpectedCalls(), 0);
    checkSecretKept(f);

    if (!row.refusal.isEmpty()) {
        // The program goes on with the local files, as if nothing was asked.
        const QString message = f.prompter.lastMessage();
        QVERIFY2(message.contains(row.refusal) && message.contains(f.local.path()),
                 qPrintable(message));
        QCOMPARE(f.prompter.messages().size(), 1);
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
    press(f.window.get(), "btNew");
    QVERIFY(f.names().contains("Made in the window"));
    {
        AppState other(teamUrl);
        QVERIFY(startUp(other).status);
        QVERIFY(namesIn(other).contains("Made in the window"));
    }

    press(f.window.get(), "mnuLocalFiles");
    QCOMPARE(f.prompter.unexpectedCalls(), 0);
    QCOMPARE(f.names(), f.localNames);
    QCOMPARE(f.localState->location(), f.local.path());
    QVERIFY2(f.statusLine().contains(QDir::toNativeSeparators(f.local.path())),
             qPrintable(f.statusLine()));
    QCOMPARE(rememberedLocation(), QString());
}

void tst_TeamConnect::passwordPrompt_data()
{
    addRows<Password>({
        {"right", {kSecret}, true},
        {"wrong, then right", {"guess", kSecret}, true},
        {"wrong, then cancel", {"guess", ""}, false},
        {"cancel", {""}, false},
    });
}

void tst_TeamConnect::passwordPrompt()
{
    QFETCH(Password, row);
    const auto &[name, passwords, connects] = row;
    if (!onTestServer())
        QSKIP("needs the test server");
    Fixture f;
    const QString address = QStringLiteral("postgresql://%1@127.0.0.1:%2/%3")
                                .arg(kPasswordRole, serverFile("port"), f.team->name());
    f.prompter.answerInput(address);
    for (const QString &password : passwords)
        f.prompter.answerPassword(password);
    press(f.window.get(), "mnuConnect");
    QCOMPARE(f.prompter.unexpectedCalls(), 0);
    QVERIFY(f.prompter.allAnswersUsed());
    checkSecretKept(f);
    const QStringList prompts = f.prompter.texts(ScriptedPrompter::Call::Password);
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
    const QString a = "postgresql://a@h/one", b = "postgresql://b@h/two",
                  c = "postgresql://c@h/three";
    addRows<Start>({
        {"remembered", {}, {}, "", a, a},
        {"nothing remembered", {}, {}, "", "", ""},
        {"environment wins", {}, {}, b, a, b},
        {"--database wins", {}, c, b, a, c},
        {"--data-dir wins", "/tmp/x", {}, "", a, "/tmp/x"},
        {"remembered text spoilt", {}, {}, "", "postgresql://h", ""},
    });
}

void tst_TeamConnect::startingLocation()
{
    QFETCH(Start, row);
    qputenv("TARN_DATABASE", row.environment.toUtf8());
    const Result<QString> location = chooseLocation(row.dataDir, row.database, row.remembered);
    qunsetenv("TARN_DATABASE");
    QVERIFY(location);
    QCOMPARE(*location, row.expected.isEmpty() ? defaultDataDir() : row.expected);
}

void tst_TeamConnect::unreachableAtStart_data()
{
    addRows<Unreachable>({
        {"remembered, local files chosen", true, 0, true},
        {"remembered, quit", true, 1, false},
        {"remembered, box closed", true, -1, false},
        {"named on the command line", false, -1, false},
    });
}

void tst_TeamConnect::unreachableAtStart()
{
    QFETCH(Unreachable, row);
    QTemporaryDir local;
    QVERIFY(createDataFiles(AppState(local.path()), true));
    ScriptedPrompter prompter;
    if (row.remembered)
        prompter.answerChoice(row.choice);

    const std::unique_ptr<AppState> state =
        openForWindows(kNoServer, row.remembered, local.path(), prompter);

    QCOMPARE(prompter.unexpectedCalls(), 0);
    QVERIFY(prompter.allAnswersUsed());
    // Whatever is asked names the database that could not be reached.
    QVERIFY2(prompter.calls().first().text.contains(kNoServer),
             qPrintable(prompter.calls().first().text));
    QCOMPARE(bool(state), row.opens);
    if (state) {
        QCOMPARE(state->location(), local.path());
        QVERIFY(!namesIn(*state).isEmpty());
    }
}

QTEST_MAIN(tst_TeamConnect)
#include "tst_teamconnect.moc"
