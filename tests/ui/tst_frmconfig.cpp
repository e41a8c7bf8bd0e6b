// SPDX-License-Identifier: GPL-3.0-or-later
#include "scriptedprompter.h"
#include "testsupport.h"
#include "ui/config/frmcompare.h"
#include "ui/config/frmconfig.h"
#include "widgets.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>

using namespace tarn;
using namespace tarn::test;

namespace
{

const QByteArray kHead = "V3 1\r\nAny name\r\n";
const QByteArray kBlock = "\r\n[Scout]\r\nmale grunt blue 3\r\n1 2 5 0 0 0 0 0 0 0\r\n1 0 0\r\n"
                          "50 340 90  5  3\r\n100 25 10 2 50 5\r\n";

struct Fixture {
    explicit Fixture(bool sample = true) : dir(sample), state(dir.start()), window(state, prompter)
    {
    }
    DataDir dir;
    AppState &state;
    ScriptedPrompter prompter;
    frmConfig window;
    Peek peek{dir.dataPath()};

    QListWidget *list() { return child<QListWidget>(&window, "classlist"); }
    QLineEdit *filter() { return child<QLineEdit>(&window, "txtFind"); }
    QStringList visible() { return entries(list()); }
    void select(const QString &name)
    {
        list()->setCurrentItem(list()->findItems(name, Qt::MatchExactly).value(0));
        QCOMPARE(state.currentPackage(), name);
    }
};

// New, Make Copy (Sample Config selected, when there is one) or Import; the name
// typed, when added, is the first in the list afterwards.
struct Adding {
    const char *name, *button;
    QString typed;
    bool added;
    int classes;
    QString said{}; // a part of the last message, %1 the file; empty: none
    // What Import reads after kHead; "none": no file is asked for, "": the
    // dialog is cancelled, "missing": the file chosen is not there.
    QByteArray file = "none";
    QString filter{}, filterAfter{}; // the filter typed before, and left after
    bool sample = true;
    qint64 cancelAt = -1; // the progress reports cancel there
};

struct Filter {
    const char *name;
    QStringList names; // besides Sample Config
    QString selected, typed;
    QStringList visible;
    QString current; // the configuration the commands act on
};

struct OtherClient {
    const char *name, *sql;
    QStringList visible; // with the filter "o"
    QString current;
    bool active = false; // the window stays active meanwhile
};

// B is a copy of Sample Config that the statement then changes.
struct Comparison {
    const char *name, *b, *sql;
    QStringList rows; // class|field|A|B
    QString summary;
};

} // namespace

class tst_frmConfig : public QObject
{
    Q_OBJECT

private slots:
    void addingCommands_data()
    {
        const QByteArray bad = kBlock + QByteArray(kBlock).replace("[Scout]", "Scout]") + "\r\n";
        const QByteArray latin1 = QByteArray(kBlock).replace("[Scout]", "[Caf\xE9]") + kBlock;
        const QByteArray many = kBlock.repeated(600);
        addRows<Adding>({
            {"new in empty list", "btNew", "First", true, 0, {}, "none", {}, {}, false},
            {"new cancelled", "btNew", {}, false, 2},
            {"new keeps spaces", "btNew", "  Spaced  ", true, 2},
            {"new duplicate in other case", "btNew", "SAMPLE config", false, 2, "'SAMPLE config'"},
            {"copied", "btCopy", "A copy", true, 4},
            {"copy cancelled", "btCopy", {}, false, 2},
            {"copy onto existing name", "btCopy", "sample CONFIG", false, 2, "'sample CONFIG'"},
            // The new name is shown: a filter that would hide it goes.
            {"new that the filter hides", "btNew", "Other", true, 2, {}, "none", "SAM"},
            {"copy that the filter shows", "btCopy", "sample 2", true, 4, {}, "none", "sam", "sam"},
            {"imported", "btImport", "Imported", true, 4, "Import Complete", kBlock + kBlock},
            {"import without a name", "btImport", "", false, 2},
            {"import, name exists", "btImport", "SAMPLE config", false, 2, "'SAMPLE config'"},
            {"import, no file chosen", "btImport", "X", false, 2, {}, ""},
            {"import, bad record", "btImport", "X", false, 2, "%1, line 11", bad},
            {"import, missing file", "btImport", "X", false, 2, "%1", "missing"},
            {"import cancelled", "btImport", "X", false, 2, {}, many, {}, {}, true, 1},
            {"import, a plain file's byte above 128: imported, and said", "btImport", "Imported",
             true, 4, "%1:4: warning: the byte 0xE9", latin1},
        });
    }

    void addingCommands()
    {
        QFETCH(Adding, row);
        Fixture f(row.sample);
        f.state.setProtect(false);
        if (row.sample)
            f.select("Sample Config");
        f.filter()->setText(row.filter);
        const QString path = f.dir.file("in.class");
        f.prompter.answerInput(row.typed);
        if (row.file != "none")
            f.prompter.answerFile(row.file.isEmpty() ? QString() : path);
        if (!row.file.isEmpty() && row.file != "none" && row.file != "missing")
            writeFile(path, kHead + row.file);
        f.prompter.cancelProgressAt(row.cancelAt);
        press(&f.window, row.button);

        const QString said = f.prompter.lastMessage();
        QVERIFY2(said.contains(row.said.replace("%1", path)) &&
                     said.isEmpty() == row.said.isEmpty(),
                 qPrintable(said));
        QCOMPARE(f.prompter.unexpectedCalls(), 0);
        QVERIFY(f.prompter.allAnswersUsed());
        QCOMPARE(f.prompter.busyDepth(), 0);
        QCOMPARE(f.state.protect(), QByteArray(row.button) == "btImport");
        if (row.cancelAt > 0)
            QVERIFY(f.prompter.lastProgress() > 0);
        const QStringList expected = (row.added ? QStringList{row.typed} : QStringList()) +
                                     (row.sample ? QStringList{"Sample Config"} : QStringList());
        QCOMPARE(entries(f.list(), true), expected);
        QCOMPARE(f.filter()->text(), row.filterAfter);
        QCOMPARE(f.visible().contains(row.typed), row.added);
        QCOMPARE(f.peek.count("package"), expected.size());
        QCOMPARE(f.peek.count("classdef"), row.classes);
    }

    void filter_data()
    {
        const QStringList abc{"Alpha", "beta", "ALPHABET"};
        const QStringList all{"Alpha", "ALPHABET", "beta", "Sample Config"};
        addRows<Filter>({
            {"any case, selection hidden", abc, "beta", "alp", {"Alpha", "ALPHABET"}, ""},
            {"selection stays visible", abc, "Alpha", "PHA", {"Alpha", "ALPHABET"}, "Alpha"},
            {"no match", abc, "Alpha", "zz", {}, ""},
            {"empty shows all", abc, "beta", "", all, "beta"},
            {"non-ASCII in any case", {"Éclair", "eclair"}, "", "éCL", {"Éclair"}, ""},
            {"no pattern characters", {"a.b", "axb", "50%1 'q'"}, "a.b", "a.b", {"a.b"}, "a.b"},
            {"percent and quote", {"a.b", "50%1 'q'"}, "", "%1 '", {"50%1 'q'"}, ""},
        });
    }

    void filter()
    {
        QFETCH(Filter, row);
        Fixture f;
        for (const QString &name : row.names)
            QVERIFY(f.state.data().createPackage(name));
        f.window.RefreshList();
        if (!row.selected.isEmpty())
            f.select(row.selected);
        f.filter()->insert(row.typed);
        QCOMPARE(f.visible(), row.visible);
        QCOMPARE(f.state.currentPackage(), row.current);
        QCOMPARE(f.list()->selectedItems().size(), row.current.isEmpty() ? 0 : 1);

        // A command never acts on a hidden name.
        f.prompter.answerMessage(Prompter::Answer::Yes);
        press(&f.window, "btDelete");
        QCOMPARE(f.peek.count("package"), row.names.size() + (row.current.isEmpty() ? 1 : 0));

        // Down goes on to the first name shown; Escape brings every name back.
        f.window.RefreshList();
        f.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        f.filter()->setFocus();
        const QString first = f.visible().value(0);
        QTest::keyClick(f.filter(), Qt::Key_Down);
        QCOMPARE(f.state.currentPackage(), first);
        QCOMPARE(QApplication::focusWidget(), f.list());
        QTest::keyClick(f.list(), Qt::Key_Escape);
        QVERIFY(f.filter()->text().isEmpty());
        QCOMPARE(f.visible().size(), f.peek.count("package"));
    }

    // Another program changes the file while the window is in the background.
    void followsOtherClients_data()
    {
        const QString s = "Sample Config";
        const char *added = "INSERT INTO package VALUES ('Other')";
        addRows<OtherClient>({
            {"added", added, {"Other", s}, s},
            {"added, filtered out", "INSERT INTO package VALUES ('X')", {s}, s},
            {"selection deleted", "DELETE FROM package", {}, ""},
            {"classes only", "UPDATE classdef SET max_speed = 1", {s}, s},
            // One entry, not two lines that look like two names.
            {"a line break in a name",
             "INSERT INTO package VALUES ('Oh' || char(10) || 'no')",
             {"Oh\\nno", s},
             s},
            // Shown within a second or so, without the window being activated again.
            {"added, window active", added, {"Other", s}, s, true},
            {"selection deleted, window active", "DELETE FROM package", {}, "", true},
        });
    }

    void followsOtherClients()
    {
        QFETCH(OtherClient, row);
        Fixture f;
        QVERIFY(f.state.data().createPackage("Mine")); // this window's own change
        f.window.RefreshList();
        f.select("Sample Config");
        f.filter()->setText("o");
        f.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        QWidget other;
        if (!row.active) {
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
        }

        f.peek.exec(f.peek.onServer() ? QString(row.sql).replace("char(", "chr(") : row.sql);
        if (!row.active) {
            QTest::qWait(1100); // no look while inactive
            QCOMPARE(f.visible(), QStringList{"Sample Config"});
            f.window.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&f.window));
        }
        QTRY_COMPARE_WITH_TIMEOUT(f.visible(), row.visible, 3000);
        QCOMPARE(f.filter()->text(), "o");
        QCOMPARE(f.state.currentPackage(), row.current);
        QCOMPARE(f.list()->selectedItems().size(), row.current.isEmpty() ? 0 : 1);
    }

    void compare_data()
    {
        const QString differ = "'Sample Config' and '%1' differ. Classes only in A: %2; only in B: "
                               "%3; changed: %4.";
        addRows<Comparison>({
            {"equal",
             "Copy",
             "",
             {},
             "'Sample Config' and 'Copy' are equal: the same classes with the same values."},
            {"a field and a slot by name",
             "50%1 \"B\"",
             "UPDATE classdef SET max_speed = 300, w3 = 4 WHERE class_name = 'Scout' AND "
             "package_name <> 'Sample Config'",
             {"Scout|Weapon slot 3|Nail Driver|Rocket Tube", "Scout|Max Speed|400|300"},
             differ.arg("50%1 \"B\"", "0", "0", "1")},
            {"renamed class",
             "Copy",
             "UPDATE classdef SET class_name = 'Scout 2' WHERE class_name = 'Scout' AND "
             "package_name = 'Copy'",
             {"Scout|(only in A)||", "Scout 2|(only in B)||"},
             differ.arg("Copy", "1", "1", "0")},
        });
    }

    void compare()
    {
        QFETCH(Comparison, row);
        Fixture f;
        QVERIFY(f.state.data().copyPackage("Sample Config", row.b));
        if (*row.sql)
            f.peek.exec(row.sql);
        frmCompare window(f.state, f.prompter, *f.state.data().packageNames(), "Sample Config");
        auto *b = child<QComboBox>(&window, "cboB");
        b->setCurrentIndex(b->findData(row.b));
        auto *table = child<QTableWidget>(&window, "tblDifferences");
        QStringList shown;
        for (int cell = 0; cell < table->rowCount() * table->columnCount(); ++cell)
            shown << table->item(cell / table->columnCount(), cell % table->columnCount())->text();
        QCOMPARE(shown.join('|'), row.rows.join('|'));
        QCOMPARE(child<QLabel>(&window, "lblSummary")->text(), row.summary);
        // The columns fill the table after every comparison, not the first alone.
        window.show();
        b->setCurrentIndex(b->findData("Sample Config"));
        QCoreApplication::processEvents();
        QCOMPARE(table->horizontalHeader()->length(), table->viewport()->width());
    }

    void deleteNeedsSelectionAndYes()
    {
        Fixture f;
        press(&f.window, "btDelete");
        press(&f.window, "btCopy");
        QCOMPARE(f.prompter.messages(), QStringList(2, "You must select a class configuration"));
        f.select("Sample Config");
        f.prompter.answerMessage(Prompter::Answer::No);
        press(&f.window, "btDelete");
        QCOMPARE(f.prompter.calls().last().defaultAnswer, Prompter::Answer::No);
        QVERIFY(f.prompter.calls().last().text.contains("'Sample Config'"));
        QCOMPARE(f.peek.count("classdef"), 2);
        QCOMPARE(f.state.currentPackage(), "Sample Config");

        f.prompter.answerMessage(Prompter::Answer::Yes);
        press(&f.window, "btDelete");
        // The classes stay for the history, belonging to no configuration.
        QCOMPARE(f.peek.count("classdef WHERE package_name IN (SELECT package_name FROM package)") +
                     f.peek.count("package") + f.list()->count(),
                 0);
        QVERIFY(f.state.currentPackage().isEmpty());
        QCOMPARE(f.prompter.busyDepth(), 0);
        press(&f.window, "mnuCompare"); // says so instead of an empty window
        QCOMPARE(f.prompter.lastMessage(), "There are no configurations to compare.");
    }

    void setModId()
    {
        Fixture f;
        const QString ini = f.dir.file("tarn.ini");
        const auto setModId = [&f](const QString &typed) {
            f.prompter.answerInput(typed);
            press(&f.window, "mnuSetModID");
            return f.prompter.calls().last().text;
        };
        QVERIFY(setModId(QString()).endsWith("Current ID = 0"));
        QVERIFY(!QFile::exists(ini)); // cancelled
        setModId(" 7 ");
        QCOMPARE(f.state.modId(), " 7 ");
        if (f.peek.onServer()) // the team's Mod ID, as tarn.ini would give it back
            QCOMPARE(f.peek.scalar("SELECT value FROM tarn_settings WHERE name = 'mod_id'"), "7");
        else
            QCOMPARE(readFile(ini), QByteArray("\" 7 \"\r\n"));
        QVERIFY(setModId(QString()).endsWith("Current ID =  7 "));
    }
};

QTEST_MAIN(tst_frmConfig)
#include "tst_frmconfig.moc"
