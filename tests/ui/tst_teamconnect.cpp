// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/startup.h"
#include "scriptedprompter.h"
#include "store/serverurl.h"
#include "testsupport.h"
#include "ui/config/frmconfig.h"
#include "widgets.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QStandardPaths>

#include <optional>

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
QString withPassword(QString url, const QString &password)
{
    return url.insert(url.indexOf(u'@'), u':' + password);
}

// {team}: the team database's address; {no database}: one the server lacks;
// {password role}: the team database as a role that must give a password.
struct Connect {
    const char *name;
    QString address;
    bool needsServer;
    QString refusal{};       // part of the message; empty: it connects
    QStringList passwords{}; // typed at the prompts in turn; empty: Cancel
};

} // namespace

class tst_TeamConnect : public QObject
{
    Q_OBJECT

private slots:
    void init() { QFile::remove(rememberedLocationFile()); }

    void initTestCase()
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
            writeFile(hba, "host all " + kPasswordRole.toUtf8() + " 127.0.0.1/32 scram-sha-256\n" +
                               rules);
        QVERIFY(admin.exec(QStringLiteral("SELECT pg_reload_conf()")));
    }

    void cleanupTestCase()
    {
        QFile::remove(rememberedLocationFile());
        Database admin;
        if (onTestServer() && admin.open(testServer()))
            std::ignore = admin.exec(QStringLiteral("DROP ROLE IF EXISTS %1").arg(kPasswordRole));
    }

    void connectAndBack_data()
    {
        addRows<Connect>({
            {"team database", "{team}", true},
            {"password in the address", "{team with password}", true},
            {"spaces around", "  {team} ", true},
            {"another scheme", "mysql://tarn@host/team", false, "scheme 'mysql://' is not known"},
            {"no database name", "postgresql://tarn@localhost", false,
             "the database name is missing"},
            {"port out of range", "postgresql://tarn@localhost:70000/team", false, "70000"},
            {"nobody listening", withPassword(kNoServer, kSecret), false, "127.0.0.1"},
            {"no such database", "{no database}", true, "does not exist"},
            {"password asked, wrong, then right", "{password role}", true, "", {"guess", kSecret}},
            {"password asked, cancelled", "{password role}", true, "password", {""}},
        });
    }

    void connectAndBack()
    {
        QFETCH(Connect, row);
        if (row.needsServer && !onTestServer())
            QSKIP("needs the test server");
        // A window on the local files, with the team database beside it.
        QTemporaryDir local;
        QVERIFY(createDataFiles(AppState(local.path()), true));
        AppState state(local.path());
        QVERIFY(startUp(state).status);
        const QStringList localNames = namesIn(state);
        std::optional<ServerDatabase> team;
        QStringList teamNames;
        QString url; // the address kept and shown
        if (onTestServer()) {
            team.emplace();
            QVERIFY(createDataFiles(AppState(team->url()), true));
            AppState writer(team->url());
            QVERIFY(startUp(writer).status && writer.data().createPackage("Team Alpha"));
            teamNames = namesIn(writer);
            ServerUrl gone = *parseServerUrl(team->url());
            gone.dbname += QStringLiteral("_gone");
            const QString role = QStringLiteral("postgresql://%1@127.0.0.1:%2/%3")
                                     .arg(kPasswordRole, serverFile("port"), team->name());
            url = row.address == "{password role}" ? role : team->url();
            row.address.replace("{team with password}", withPassword(url, kSecret))
                .replace("{no database}", gone.shown())
                .replace("{team}", url)
                .replace("{password role}", role);
        }
        ScriptedPrompter prompter;
        frmConfig window(state, prompter);
        window.setLocalFolder(local.path());
        const auto names = [&window] {
            return entries(child<QListWidget>(&window, "classlist"), true);
        };
        const QLabel *status = child<QLabel>(&window, "lblDatabase");
        prompter.answerInput(row.address);
        for (const QString &password : row.passwords)
            prompter.answerPassword(password);
        press(&window, "mnuConnect");
        QCOMPARE(prompter.unexpectedCalls(), 0);
        QVERIFY(prompter.allAnswersUsed());
        // Nothing the user can see or the program keeps holds the password.
        QVERIFY(!QString::fromUtf8(readFile(rememberedLocationFile())).contains(kSecret));
        QVERIFY(!status->text().contains(kSecret) && !window.windowTitle().contains(kSecret));
        for (const ScriptedPrompter::Call &call : prompter.calls())
            QVERIFY2(!call.text.contains(kSecret), qPrintable(call.text));
        // Asked again when refused, whatever the server's language.
        const QStringList prompts = prompter.texts(ScriptedPrompter::Call::Password);
        QCOMPARE(prompts.size(), row.passwords.size());
        for (qsizetype i = 0; i < prompts.size(); ++i)
            QVERIFY2(prompts[i].contains(url) && prompts[i].contains("refused") == (i > 0),
                     qPrintable(prompts[i]));

        if (!row.refusal.isEmpty()) {
            // The program goes on with the local files, as if nothing was asked.
            const QString message = prompter.lastMessage();
            QVERIFY2(message.contains(row.refusal) && message.contains(local.path()),
                     qPrintable(message));
            QCOMPARE(prompter.messages().size(), 1);
            QCOMPARE(state.location(), local.path());
            QCOMPARE(names(), localNames);
            QCOMPARE(rememberedLocation(), QString());
            return;
        }
        QVERIFY2(prompter.messages().isEmpty(), qPrintable(prompter.lastMessage()));
        QCOMPARE(names(), teamNames);
        QVERIFY(state.onServer());
        QVERIFY2(status->text().contains(url), qPrintable(status->text()));
        // The next start opens the team database, unless told otherwise.
        QCOMPARE(rememberedLocation(), url);
        QCOMPARE(*chooseLocation({}, {}, rememberedLocation()), url);
        // Commands work on the team database.
        prompter.answerInput(QStringLiteral("Made in the window"));
        press(&window, "btNew");
        QVERIFY(names().contains("Made in the window"));
        {
            AppState other(team->url());
            QVERIFY(startUp(other).status);
            QVERIFY(namesIn(other).contains("Made in the window"));
        }

        press(&window, "mnuLocalFiles");
        QCOMPARE(prompter.unexpectedCalls(), 0);
        QCOMPARE(names(), localNames);
        QCOMPARE(state.location(), local.path());
        QVERIFY2(status->text().contains(QDir::toNativeSeparators(local.path())),
                 qPrintable(status->text()));
        QCOMPARE(rememberedLocation(), QString());
    }
};

QTEST_MAIN(tst_TeamConnect)
#include "tst_teamconnect.moc"
