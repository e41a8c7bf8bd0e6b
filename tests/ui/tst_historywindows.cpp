// SPDX-License-Identifier: GPL-3.0-or-later
#include "classeditor.h"
#include "ui/classes/classtable.h"
#include "ui/classes/frmhistory.h"
#include "ui/config/deleted.h"
#include "ui/config/firstrun.h"
#include "ui/config/frmconfig.h"

#include <QApplication>
#include <QComboBox>
#include <QTableView>
#include <QTableWidget>
#include <QTimer>

using namespace tarn;
using namespace tarn::test;

namespace
{

struct Narrowing {
    const char *name;
    bool thisClass; // the class shown: Medic
    const char *field;
    QString who;       // "me": the one who made the edits
    QStringList shown; // "class field" of each field change listed, newest first
};

struct ClassRestore {
    const char *name;
    bool deleted; // else changed twice, and restored as before the first change
};

struct NoHistory {
    const char *name;
    const char *asked; // the menu item chosen; null: start-up alone
};

struct ConfigRestore {
    const char *name;
    QString takenBy; // a configuration made with the name since; empty: none
    QString as;      // the name typed when asked
};

// Scout (1) and Medic (2), in the editor.
struct Edited : ClassEditor {
    Edited()
    {
        insertClass("class_num, class_name, max_speed", {1, "Scout", 300});
        insertClass("class_num, class_name, max_speed", {2, "Medic", 200});
        open();
    }
    // Types into a field of the class shown and stores it, as a move would.
    void type(const char *field, const QString &text)
    {
        retype(edit(field), text);
        QVERIFY(nav()->writeBack());
    }
    frmHistory *history() { return editor->mnuHistory_Click(); }
    static QString cell(frmHistory *h, int row, int column)
    {
        return h->model().data(h->model().index(row, column), Qt::DisplayRole).toString();
    }
    // The field changes the window lists, "class field" each.
    static QStringList fieldChanges(frmHistory *h)
    {
        QStringList found;
        for (int r = 0; r < h->model().rowCount(); ++r)
            if (h->model().change(r).kind == Change::Field)
                found << QStringLiteral("%1 %2")
                             .arg(h->model().change(r).rowKey)
                             .arg(cell(h, r, HistoryModel::Field));
        return found;
    }
    static void select(frmHistory *h, int row) { h->view()->selectRow(row); }
    QString row(int classNum) const
    {
        return stored({"class_name", "max_speed", "w2", "i1", "max_armor"}, classNum);
    }
};

} // namespace

class tst_HistoryWindows : public QObject
{
    Q_OBJECT

private slots:
    void listsStoredEditsNewestFirstAsMade()
    {
        Edited e;
        frmHistory *h = e.history(); // open first: it follows what the editor stores
        QVERIFY(h);
        e.type("fldSpeed", "900");
        e.type("fldClassName", "Runner");
        QTRY_COMPARE(h->model().rowCount(), 2);
        const QList<QStringList> expected{{"Class Name", "Scout", "Runner"},
                                          {"Max Speed", "300", "900"}};
        for (int r = 0; r < expected.size(); ++r) {
            QCOMPARE((QStringList{Edited::cell(h, r, HistoryModel::Field),
                                  Edited::cell(h, r, HistoryModel::Before),
                                  Edited::cell(h, r, HistoryModel::After)}),
                     expected[r]);
            QVERIFY(!h->model().change(r).who.isEmpty());
            QCOMPARE(Edited::cell(h, r, HistoryModel::Who), h->model().change(0).who);
            QVERIFY(h->model().change(r).at.secsTo(QDateTime::currentDateTimeUtc()) < 600);
        }
        QCOMPARE(e.prompter.unexpectedCalls(), 0);
    }

    void readsALongHistoryAPageAtATime()
    {
        Edited e;
        e.peek.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 450) "
                    "INSERT INTO history (who, program, kind, package_name, table_name, row_key, "
                    "row_name, field) SELECT 'someone', 'tarn', 0, ?, 'classdef', 1, 'Scout', "
                    "'max_speed' FROM n",
                    {e.package});
        frmHistory *h = e.history();
        QVERIFY(h);
        QVERIFY(h->model().rowCount() < 450);
        for (int page = 0; page < 10 && h->model().canFetchMore({}); ++page) {
            h->view()->scrollToBottom();
            QCoreApplication::processEvents();
        }
        QCOMPARE(h->model().rowCount(), 450);
        for (int r = 1; r < 450; ++r)
            QVERIFY(h->model().change(r).id < h->model().change(r - 1).id);
    }

    void narrows_data()
    {
        addRows<Narrowing>({
            {"to the class shown", true, "", "", {"2 Class Name", "2 Max Speed"}},
            {"to a field", false, "max_speed", "", {"2 Max Speed", "1 Max Speed"}},
            {"to the person", false, "", "me", {"2 Class Name", "2 Max Speed", "1 Max Speed"}},
            {"to another person", false, "", "somebody else", {}},
            {"to all at once", true, "class_name", "me", {"2 Class Name"}},
        });
    }
    void narrows()
    {
        QFETCH(Narrowing, row);
        Edited e;
        e.type("fldSpeed", "900");
        QVERIFY(e.nav()->moveNext());
        e.type("fldSpeed", "250");
        e.type("fldClassName", "Doc");
        frmHistory *h = e.history();
        QVERIFY(h);
        const QString me = h->model().change(0).who;
        child<QCheckBox>(h, "chkThisClass")->setChecked(row.thisClass);
        auto *field = child<QComboBox>(h, "cboField");
        field->setCurrentIndex(std::max(0, field->findData(QString(row.field))));
        QLineEdit *who = child<QLineEdit>(h, "txtWho");
        who->setFocus();
        retype(who, row.who == "me" ? me : row.who);
        QTest::keyClick(who, Qt::Key_Return);
        QVERIFY(h->isVisible()); // Enter applied the name and pressed no button
        QCOMPARE(Edited::fieldChanges(h), row.shown);
        QCOMPARE(e.prompter.unexpectedCalls(), 0);
    }

    void restoreClassThenUndo_data()
    {
        addRows<ClassRestore>({{"a changed class", false}, {"a deleted class", true}});
    }
    void restoreClassThenUndo()
    {
        QFETCH(ClassRestore, row);
        Edited e;
        const QString was = e.row(1);
        frmClassTable *table = e.editor->mnuClassTable_Click();
        auto tableSpeed = [&] {
            const QAbstractItemModel *m = table->model();
            for (int r = 0; r < m->rowCount(); ++r)
                if (m->index(r, ClassTableModel::columnOf("class_num")).data().toInt() == 1)
                    return m->index(r, ClassTableModel::columnOf("max_speed")).data().toString();
            return QStringLiteral("none");
        };
        if (row.deleted) {
            e.click("Command1"); // Scout, shown first
        } else {
            e.type("fldSpeed", "900");
            e.type("fldClassName", "Runner");
        }
        const QString after = e.row(1);
        frmHistory *h = e.history();
        QVERIFY(h);
        const qint64 newest = h->model().change(0).id;
        // The delete, or the first of the two edits.
        Edited::select(h, row.deleted ? 0 : 1);
        press(h, "btRestoreClass");
        QCOMPARE(e.row(1), was);
        QCOMPARE(e.peek.count("classdef"), 2);
        QCOMPARE(e.edit("fldSpeed")->text(), "300");
        QCOMPARE(tableSpeed(), "300");
        QVERIFY(h->model().change(0).id > newest); // recorded, and listed at once

        QVERIFY(e.nav()->undo());
        QCOMPARE(e.row(1), after);
        QCOMPARE(tableSpeed(), row.deleted ? "none" : "900");
        QCOMPARE(e.prompter.unexpectedCalls(), 0);
    }

    void deletedConfigurationRestoredThenUndo_data()
    {
        addRows<ConfigRestore>({
            {"under its own name", "", ""},
            {"under a new name, its own taken", "Sample Config", "Sample Again"},
        });
    }
    void deletedConfigurationRestoredThenUndo()
    {
        QFETCH(ConfigRestore, row);
        DataDir dir;
        AppState &state = dir.start();
        ScriptedPrompter prompter;
        frmConfig window(state, prompter);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Peek peek(dir.dataPath());
        const QString old = "Sample Config";
        const QString classes = "SELECT class_name || max_speed FROM classdef "
                                "WHERE package_name = ? ORDER BY class_num";
        const QString was = peek.joined(classes, ",", {old});
        QVERIFY(!was.isEmpty());
        auto *list = child<QListWidget>(&window, "classlist");
        list->setCurrentItem(list->findItems(old, Qt::MatchExactly).value(0));
        prompter.answerMessage(Prompter::Answer::Yes);
        press(&window, "btDelete");
        if (!row.takenBy.isEmpty())
            QVERIFY(state.data().createPackage(row.takenBy));
        if (!row.as.isEmpty())
            prompter.answerInput(row.as);
        const QString restored = row.as.isEmpty() ? old : row.as;
        bool checked = false;
        QTimer::singleShot(0, [&] {
            auto *deleted = qobject_cast<frmDeleted *>(QApplication::activeModalWidget());
            if (!deleted)
                return;
            // Closed whatever the checks find, so that a failure ends the test.
            [&] {
                auto *table = child<QTableWidget>(deleted, "tblDeleted");
                QCOMPARE(table->item(0, 0)->text(), old);
                QCOMPARE(table->item(0, 3)->text(), QString::number(was.count(',') + 1));
                QTest::keyClick(table, Qt::Key_Return); // the first is selected
                QCOMPARE(peek.joined(classes, ",", {restored}), was);
                QVERIFY(entries(list).contains(restored));
                QCOMPARE(state.currentPackage(), restored);
                press(deleted, "mnuUndo");
                QCOMPARE(
                    peek.scalar("SELECT count(*) FROM package WHERE package_name = ?", {restored})
                        .toInt(),
                    0);
                QVERIFY(!entries(list).contains(restored));
                checked = true;
            }();
            deleted->reject();
        });
        press(&window, "mnuDeleted");
        QVERIFY(checked);
        QCOMPARE(prompter.unexpectedCalls(), 0);
    }

    void saysWhenNoHistoryIsKept_data()
    {
        addRows<NoHistory>({
            {"at start", nullptr},
            {"History...", "mnuHistory"},
            {"Deleted Configurations...", "mnuDeleted"},
        });
    }
    void saysWhenNoHistoryIsKept()
    {
        QFETCH(NoHistory, row);
        if (!onTestServer())
            QSKIP("local files gain the history as they open");
        ClassEditor e;
        e.peek.exec("DROP TABLE history_class, history CASCADE"); // as before the upgrade
        if (!row.asked) {
            AppState state(e.dir.location());
            StartupResult started;
            QVERIFY(startInWindows(state, e.prompter, started));
            QVERIFY(started.status);
        } else {
            e.open();
            frmConfig window(e.dir.state(), e.prompter);
            QWidget *from = QByteArray(row.asked) == "mnuHistory"
                                ? static_cast<QWidget *>(e.editor.get())
                                : &window;
            // A window that opened all the same is closed, not waited on.
            QTimer::singleShot(0, [] {
                if (QWidget *modal = QApplication::activeModalWidget())
                    modal->close();
            });
            press(from, row.asked);
            QVERIFY(!e.editor->findChild<frmHistory *>());
        }
        QCOMPARE(e.prompter.messages().size(), 1);
        QVERIFY(e.prompter.lastMessage().contains("upgrade"));
        QCOMPARE(e.prompter.unexpectedCalls(), 0);
    }
};

QTEST_MAIN(tst_HistoryWindows)
#include "tst_historywindows.moc"
