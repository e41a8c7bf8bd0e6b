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
#include <QTest>
#include <QTextDocument>
#include <QTimer>

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
    // Adds configurations beside the sample one, as another window would.
    void create(const QStringList &names)
    {
        for (const QString &name : names)
            QVERIFY(state.data().createPackage(name));
        window.RefreshList();
    }
};

// New or Make Copy with Sample Config selected (if there is one); the name typed is the
// first in the list afterwards unless it was refused for being taken.
struct NewOrCopy {
    const char *name, *button;
    bool sample;
    QString typed;
    int classes;
    bool taken = false;
    QString filter{}, filterAfter{}; // the filter typed before, and left after
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

const std::string kLongName(300, 'N');
const std::string kLongClass = "UPDATE classdef SET class_name = '" + std::string(300, 'C') +
                               "' WHERE class_name = 'Scout' AND package_name <> 'Sample Config'";

// B is a copy of Sample Config that the statement then changes; an empty
// summary is not compared.
struct Comparison {
    const char *name, *b, *sql;
    QStringList rows; // class|field|A|B
    QString summary;
    QString message{}; // a part of the one message shown
};

// The configuration is imported when the window ends with "Import Complete".
struct Import {
    const char *name;
    QString typed;
    QByteArray file; // "none": the dialog is cancelled; "missing": no file
    QString message; // %1: the file
    qint64 cancelAt = -1;
};

} // namespace

class tst_frmConfig : public QObject
{
    Q_OBJECT

private slots:
    void newAndCopyKeepNameAsTyped_data();
    void newAndCopyKeepNameAsTyped();
    void filter_data();
    void filter();
    void followsOtherClients_data();
    void followsOtherClients();
    void compare_data();
    void compare();
    void compareFromMenu();
    void deleteNeedsSelectionAndYes();
    void setModId();
    void import_data();
    void import();
};

void tst_frmConfig::newAndCopyKeepNameAsTyped_data()
{
    addRows<NewOrCopy>({
        {"new in empty list", "btNew", false, "First", 0},
        {"new cancelled", "btNew", true, {}, 2},
        {"new keeps spaces", "btNew", true, "  Spaced  ", 2},
        {"new duplicate in other case", "btNew", true, "SAMPLE config", 2, true},
        {"copied", "btCopy", true, "A copy", 4},
        {"copy cancelled", "btCopy", true, {}, 2},
        {"copy onto existing name", "btCopy", true, "sample CONFIG", 2, true},
        // The new name is shown: a filter that would hide it goes.
        {"new that the filter hides", "btNew", true, "Other", 2, false, "SAM"},
        {"copy that the filter shows", "btCopy", true, "sample 2", 4, false, "sam", "sam"},
    });
}

void tst_frmConfig::newAndCopyKeepNameAsTyped()
{
    QFETCH(NewOrCopy, row);
    Fixture f(row.sample);
    QCOMPARE(f.list()->count(), row.sample ? 1 : 0);
    if (row.sample)
        f.select("Sample Config");
    f.filter()->setText(row.filter);
    f.prompter.answerInput(row.typed);
    press(&f.window, row.button);
    const bool added = !row.typed.isEmpty() && !row.taken;
    const QStringList expected = (added ? QStringList{row.typed} : QStringList()) +
                                 (row.sample ? QStringList{"Sample Config"} : QStringList());
    QCOMPARE(entries(f.list(), true), expected);
    QCOMPARE(f.filter()->text(), row.filterAfter);
    QCOMPARE(f.visible().contains(row.typed), added);
    QCOMPARE(f.prompter.lastMessage(),
             row.taken ? QStringLiteral("A configuration named '%1' exists already. Choose "
                                        "another name.")
                             .arg(row.typed)
                       : QString());
    QCOMPARE(f.peek.count("package"), expected.size());
    QCOMPARE(f.peek.count("classdef"), row.classes);
    // The list is refreshed only when a name was added, and that clears the selection.
    const bool kept = row.sample && !added;
    QCOMPARE(f.state.currentPackage(), kept ? "Sample Config" : QString());
    QCOMPARE(f.list()->selectedItems().size(), kept ? 1 : 0);
    QCOMPARE(f.prompter.busyDepth(), 0);
}

void tst_frmConfig::filter_data()
{
    const QStringList abc{"Alpha", "beta", "ALPHABET"};
    addRows<Filter>({
        {"any case, selection hidden", abc, "beta", "alp", {"Alpha", "ALPHABET"}, ""},
        {"selection stays visible", abc, "Alpha", "PHA", {"Alpha", "ALPHABET"}, "Alpha"},
        {"no match", abc, "Alpha", "zz", {}, ""},
        {"empty shows all",
         abc,
         "beta",
         "",
         {"Alpha", "ALPHABET", "beta", "Sample Config"},
         "beta"},
        {"non-ASCII in any case", {"Éclair", "eclair"}, "", "éCL", {"Éclair"}, ""},
        {"no pattern characters", {"a.b", "axb", "50%1 'q'"}, "a.b", "a.b", {"a.b"}, "a.b"},
        {"percent and quote", {"a.b", "50%1 'q'"}, "", "%1 '", {"50%1 'q'"}, ""},
    });
}

void tst_frmConfig::filter()
{
    QFETCH(Filter, row);
    Fixture f;
    f.create(row.names);
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
    if (row.current.isEmpty())
        QCOMPARE(f.prompter.lastMessage(), "You must select a class configuration");

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
void tst_frmConfig::followsOtherClients_data()
{
    const QStringList sample{"Sample Config"};
    addRows<OtherClient>({
        {"added", "INSERT INTO package VALUES ('Other')", {"Other", "Sample Config"}, sample[0]},
        {"added, filtered out", "INSERT INTO package VALUES ('X')", sample, sample[0]},
        {"selection deleted", "DELETE FROM package", {}, ""},
        {"classes only", "UPDATE classdef SET max_speed = 1", sample, sample[0]},
        // One entry, not two lines that look like two names.
        {"added, a line break in its name",
         "INSERT INTO package VALUES ('Oh' || char(10) || 'no')",
         {"Oh\\nno", "Sample Config"},
         sample[0]},
        // Shown within a second or so, without the window being activated again.
        {"added, window active",
         "INSERT INTO package VALUES ('Other')",
         {"Other", "Sample Config"},
         sample[0],
         true},
        {"selection deleted, window active", "DELETE FROM package", {}, "", true},
    });
}

void tst_frmConfig::followsOtherClients()
{
    QFETCH(OtherClient, row);
    Fixture f;
    f.create({"Mine"}); // this window's own change
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

void tst_frmConfig::compare_data()
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
        {"an empty number and an empty slot",
         "Copy",
         "UPDATE classdef SET max_armor = NULL, w4 = 0 WHERE package_name = 'Copy'",
         {"Scout|Max Armor|50|(none)", "Soldier|Weapon slot 4|Pulse Rifle|(none)",
          "Soldier|Max Armor|200|(none)"},
         differ.arg("Copy", "0", "0", "2")},
        // Shortened in the lists, whole in the tooltips: the window fits a small screen.
        {"long names",
         kLongName.c_str(),
         kLongClass.c_str(),
         {"Scout|(only in A)||", QString(300, 'C') + "|(only in B)||"},
         ""},
    });
}

void tst_frmConfig::compare()
{
    QFETCH(Comparison, row);
    Fixture f;
    QVERIFY(f.state.data().copyPackage("Sample Config", row.b));
    QVERIFY(f.state.data().createPackage("Empty"));
    if (*row.sql)
        f.peek.exec(row.sql);
    frmCompare window(f.state, f.prompter, *f.state.data().packageNames(), "Sample Config");
    window.show();
    auto *b = child<QComboBox>(&window, "cboB");
    QCOMPARE(child<QComboBox>(&window, "cboA")->currentText(), "Sample Config");
    b->setCurrentIndex(b->findData(row.b));

    auto *table = child<QTableWidget>(&window, "tblDifferences");
    QStringList shown;
    for (int r = 0; r < table->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c)
            cells << table->item(r, c)->text();
        shown << cells.join('|');
    }
    QCOMPARE(shown, row.rows);
    if (!row.summary.isEmpty())
        QCOMPARE(child<QLabel>(&window, "lblSummary")->text(), row.summary);
    window.adjustSize();
    QVERIFY2(window.width() <= 1024, qPrintable(QString::number(window.width())));
    QTextDocument tip;
    tip.setHtml(b->toolTip());
    QCOMPARE(tip.toPlainText(), b->currentText() == row.b ? "" : row.b);
    QVERIFY2(f.prompter.lastMessage().contains(row.message), qPrintable(f.prompter.lastMessage()));
    QCOMPARE(f.prompter.messages().size(), row.message.isEmpty() ? 0 : 1);
    QVERIFY(!b->accessibleName().isEmpty() &&
            !child<QComboBox>(&window, "cboA")->accessibleName().isEmpty());

    // Against an empty configuration every class of A is only in A.
    b->setCurrentIndex(b->findText("Empty"));
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->item(0, 1)->text(), "(only in A)");
    // The columns fill the table after every comparison, not the first alone.
    QCoreApplication::processEvents();
    QCOMPARE(table->horizontalHeader()->length(), table->viewport()->width());
}

void tst_frmConfig::compareFromMenu()
{
    Fixture f;
    f.create({"A"});
    f.select("Sample Config");
    QString ab;
    QTimer::singleShot(0, [&ab] {
        if (auto *window = qobject_cast<frmCompare *>(QApplication::activeModalWidget())) {
            ab = child<QComboBox>(window, "cboA")->currentText() + " / " +
                 child<QComboBox>(window, "cboB")->currentText();
            window->reject();
        }
    });
    press(&f.window, "mnuCompare");
    QCOMPARE(ab, "Sample Config / A");

    f.peek.exec("DELETE FROM package");
    f.window.RefreshList();
    press(&f.window, "mnuCompare");
    QCOMPARE(f.prompter.lastMessage(), "There are no configurations to compare.");
}

void tst_frmConfig::deleteNeedsSelectionAndYes()
{
    Fixture f;
    for (const char *button : {"btDelete", "btEdit", "btCopy"})
        press(&f.window, button);
    QCOMPARE(f.prompter.messages(), QStringList(3, "You must select a class configuration"));
    f.select("Sample Config");
    f.prompter.answerMessage(Prompter::Answer::No);
    press(&f.window, "btDelete");
    const auto ask = f.prompter.calls().last();
    QCOMPARE(ask.text, "Are you sure you want to delete the 'Sample Config' Config?");
    QCOMPARE(ask.defaultAnswer, Prompter::Answer::No);
    QCOMPARE(f.peek.count("classdef"), 2);
    QCOMPARE(f.state.currentPackage(), "Sample Config");

    f.prompter.answerMessage(Prompter::Answer::Yes);
    press(&f.window, "btDelete");
    QCOMPARE(f.peek.count("classdef") + f.peek.count("package") + f.list()->count(), 0);
    QVERIFY(f.state.currentPackage().isEmpty());
    QCOMPARE(f.prompter.busyDepth(), 0);
}

void tst_frmConfig::setModId()
{
    Fixture f;
    const QString ini = f.dir.file("tarn.ini");
    const auto setModId = [&f](const QString &typed) {
        f.prompter.answerInput(typed);
        press(&f.window, "mnuSetModID");
        return f.prompter.calls().last().text;
    };
    QCOMPARE(setModId(QString()), "Enter Your Mod ID (not required). Current ID = 0");
    QVERIFY(!QFile::exists(ini)); // cancelled
    setModId(" 7 ");
    QCOMPARE(f.state.modId(), " 7 ");
    if (f.peek.onServer()) // the team's Mod ID, as tarn.ini would give it back
        QCOMPARE(f.peek.scalar("SELECT value FROM tarn_settings WHERE name = 'mod_id'"), "7");
    else
        QCOMPARE(readFile(ini), QByteArray("\" 7 \"\r\n"));
    QCOMPARE(setModId(QString()), "Enter Your Mod ID (not required). Current ID =  7 ");
}

void tst_frmConfig::import_data()
{
    const QByteArray bad =
        kHead + kBlock + QByteArray(kBlock).replace("[Scout]", "Scout]") + "\r\n";
    addRows<Import>({
        {"imported", "Imported", kHead + kBlock + kBlock, "Import Complete"},
        {"no name", "", "none", ""},
        {"name exists", "SAMPLE config", "none",
         "A configuration named 'SAMPLE config' exists already. Choose another name."},
        {"no file", "X", "none", ""},
        {"bad record", "X", bad, "Bad Class Record: Scout]\n%1, line 11\nNothing was imported."},
        {"missing file", "X", "missing", "No such file or directory\n%1\nNothing was imported."},
        {"cancelled", "X", kHead + kBlock.repeated(600), "", 1},
        {"a plain file's byte above 128: imported, and said", "Imported",
         kHead + QByteArray(kBlock).replace("[Scout]", "[Caf\xE9]") + kBlock,
         "%1:4: warning: the byte 0xE9 ('\u00e9' in Latin-1) is read as 'i': a plain class "
         "file's bytes above 128 are read 128 lower, as the game reads them"},
    });
}

void tst_frmConfig::import()
{
    QFETCH(Import, row);
    Fixture f;
    f.state.setProtect(false);
    ScriptedPrompter &prompter = f.prompter;
    const QString path = f.dir.file("in.class");
    prompter.answerInput(row.typed);
    if (row.file != "none") {
        if (row.file != "missing")
            writeFile(path, row.file);
        prompter.answerFile(path);
    } else if (!row.typed.isEmpty() && row.message.isEmpty()) {
        prompter.answerFile(QString());
    }
    prompter.cancelProgressAt(row.cancelAt);

    press(&f.window, "btImport");

    const auto ask = prompter.calls().first();
    QCOMPARE(ask.title + ": " + ask.text,
             "Copy Config: Enter the name of the config you wish to copy to");
    QCOMPARE(prompter.lastMessage(), row.message.replace("%1", path));
    QCOMPARE(prompter.unexpectedCalls(), 0);
    QVERIFY(prompter.allAnswersUsed());
    QCOMPARE(prompter.busyDepth(), 0);
    QVERIFY(f.state.protect());
    if (row.cancelAt > 0)
        QVERIFY(prompter.lastProgress() > 0);

    const bool imported = row.message == "Import Complete" || row.message.contains("warning");
    QCOMPARE(entries(f.list(), true),
             (imported ? QStringList{row.typed, "Sample Config"} : QStringList{"Sample Config"}));
    QCOMPARE(f.peek.count("package") + f.peek.count("classdef"), imported ? 6 : 3);
}

QTEST_MAIN(tst_frmConfig)
#include "tst_frmconfig.moc"
