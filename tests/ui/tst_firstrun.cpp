// SPDX-License-Identifier: GPL-3.0-or-later
// How the windows start: where, and what they offer when there is nothing to
// open yet, only Jet files, or a team database nobody answers at.
#include "scriptedprompter.h"
#include "testsupport.h"
#include "ui/config/firstrun.h"

#include <QDir>
#include <QTemporaryDir>

#include <optional>

using namespace tarn;
using namespace tarn::test;

namespace
{

// Nothing listens there: a connection is refused at once.
const QString kNoServer = QStringLiteral("postgresql://tarn@127.0.0.1:1/team");

// Where the windows start: a folder below a temporary one (on the test server
// a new database) without data files, "jet" for the Jet files of an older
// version, or a server address.
struct Start {
    const char *name;
    QString at;
    int answer;              // a choice (-1: the box closed, -2: none asked); for Jet, 1 is Yes
    int packages;            // configurations after; -1: the program ends, nothing changed
    bool remembered = false; // the address is the one the windows remembered
    QString said{};          // a part of what is said last
    QByteArray reader = TARN_JET_READER_PATH;
};

// Null: not given on the command line.
struct Location {
    const char *name;
    QString dataDir, database, environment, remembered;
    QString expected; // empty: the default folder
};

} // namespace

class tst_FirstRun : public QObject
{
    Q_OBJECT

private slots:
    void startInWindows_data()
    {
        addRows<Start>({
            {"no data files: empty", "", 1, 0},
            {"no data files: sample rows, folder made", ".local/share/tarn", 0, 1},
            {"no data files: quit, no folder made", ".local/share/tarn", 2, -1},
            {"no data files: box closed", "", -1, -1},
            {"Jet files: converted", "jet", 1, 4, false, "tarn_dat.mdb.jet"},
            {"Jet files: not converted", "jet", 0, -1, false, "tarn-cli migrate"},
            {"Jet files: no reader", "jet", 1, -1, false, "could not be started", "/nonexistent"},
            {"unreachable: remembered, local files chosen", kNoServer, 0, 1, true},
            {"unreachable: remembered, quit", kNoServer, 1, -1, true},
            {"unreachable: remembered, box closed", kNoServer, -1, -1, true},
            {"unreachable: named on the command line", kNoServer, -2, -1},
        });
    }

    void startInWindows()
    {
        QFETCH(Start, row);
        qputenv("TARN_JET_READER", row.reader);
        QTemporaryDir root, local;
        QVERIFY(createDataFiles(AppState(local.path()), true));
        std::optional<ServerDatabase> server;
        QString location = QDir(root.path()).filePath(row.at), place = location;
        const bool nothingYet = row.at != "jet" && !row.at.startsWith("postgresql:");
        if (row.at == "jet") {
            const AppState files(root.path());
            copyLegacyFile("tarn_dat_s21.mdb", files.dataPath());
            copyLegacyFile("tarn_ref.mdb", files.refPath());
            location = root.path();
            place = files.dataPath();
        } else if (row.at.startsWith("postgresql:")) {
            location = place = row.at;
        } else if (onTestServer()) {
            server.emplace();
            location = server->url();
            place = AppState(location).where();
        }
        const auto contents = [&root] {
            return std::pair(snapshot(root.path()),
                             QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot));
        };
        const auto before = contents();
        ScriptedPrompter prompter;
        if (row.at == "jet")
            prompter.answerMessage(row.answer == 1 ? Prompter::Answer::Yes : Prompter::Answer::No);
        else if (row.answer > -2)
            prompter.answerChoice(row.answer);

        const std::unique_ptr<AppState> state =
            openForWindows(location, row.remembered, local.path(), prompter);

        QCOMPARE(prompter.unexpectedCalls(), 0);
        QVERIFY(prompter.allAnswersUsed());
        const QString asked = prompter.calls().value(0).text;
        QVERIFY2(asked.contains(QDir::toNativeSeparators(place)), qPrintable(asked));
        QVERIFY2(prompter.lastMessage().contains(row.said), qPrintable(prompter.lastMessage()));
        QCOMPARE(state ? int(state->data().packageNames()->size()) : -1, row.packages);
        if (!state) {
            QVERIFY(contents() == before);
            AppState again(location);
            QCOMPARE(startUp(again).noDataFiles, nothingYet);
        }
    }

    void startingLocation_data()
    {
        const QString a = "postgresql://a@h/one", b = "postgresql://b@h/two",
                      c = "postgresql://c@h/three";
        addRows<Location>({
            {"remembered", {}, {}, "", a, a},
            {"nothing remembered", {}, {}, "", "", ""},
            {"environment wins", {}, {}, b, a, b},
            {"--database wins", {}, c, b, a, c},
            {"--data-dir wins", "/tmp/x", {}, "", a, "/tmp/x"},
            {"remembered text spoilt", {}, {}, "", "postgresql://h", ""},
        });
    }

    void startingLocation()
    {
        QFETCH(Location, row);
        qputenv("TARN_DATABASE", row.environment.toUtf8());
        const Result<QString> location = chooseLocation(row.dataDir, row.database, row.remembered);
        qunsetenv("TARN_DATABASE");
        QVERIFY(location);
        QCOMPARE(*location, row.expected.isEmpty() ? defaultDataDir() : row.expected);
    }
};

QTEST_MAIN(tst_FirstRun)
#include "tst_firstrun.moc"
