#include "datacontrol.h"
#include "frmclasses.h"
#include "frmconfig.h"
#include "scriptedprompter.h"
#include "testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace tarn;
using namespace tarn::test;

namespace
{

const QString kPackage = QStringLiteral("Cfg 'A'");

// A data directory whose configuration holds the given classes (number, name),
// with the reference tables as the sample or as a test sets them up.
struct Fixture {
    explicit Fixture(const QList<int> &numbers = {1, 2, 3})
    {
        peek.exec("DELETE FROM classdef");
        peek.exec("DELETE FROM package");
        peek.exec("INSERT INTO package VALUES (?)", {kPackage});
        for (int n : numbers)
            peek.exec("INSERT INTO classdef (package_name, class_num, class_name, max_speed, "
                      "w2, w3, g1) VALUES (?, ?, ?, ?, 2, 3, 1)",
                      {kPackage, n, QStringLiteral("Class %1").arg(n), 300 + n});
    }
    // Opens the editor; the class rows it updates from here on are counted.
    frmClasses &open()
    {
        peek.exec("CREATE TABLE writes (n INTEGER)");
        peek.exec("INSERT INTO writes VALUES (0)");
        peek.exec("CREATE TRIGGER counted AFTER UPDATE ON classdef BEGIN "
                  "UPDATE writes SET n = n + 1; END");
        AppState &state = dir.start();
        state.setCurrentPackage(kPackage);
        editor = std::make_unique<frmClasses>(state, prompter);
        editor->show();
        return *editor;
    }
    template<typename T> T *child(const char *name) const
    {
        T *w = editor->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    QLineEdit *edit(const char *name) const { return child<QLineEdit>(name); }
    QComboBox *list(const char *name) const { return child<QComboBox>(name); }
    void click(const char *button) const { child<QPushButton>(button)->click(); }
    DataControl *nav() const { return editor->navigator(); }
    QVariant stored(const QString &column, int number) const
    {
        return peek.scalar(
            QStringLiteral("SELECT %1 FROM classdef WHERE class_num = ?").arg(column), {number});
    }
    int writes() const { return peek.scalar("SELECT n FROM writes").toInt(); }
    qint64 classes() const { return peek.count("classdef"); }

    DataDir dir;
    Peek peek{dir.dataPath()};
    Peek ref{dir.refPath()};
    ScriptedPrompter prompter;
    std::unique_ptr<frmClasses> editor;
};

} // namespace

class tst_frmClasses : public QObject
{
    Q_OBJECT

private slots:
    void showsFirstClassWithLabelsAndTabOrder();
    void editsSurviveMoveAndClose();
    void unofferedSlotsAreKeptAndNeverWritten_data();
    void unofferedSlotsAreKeptAndNeverWritten();
    void slotListsAndChoice();
    void noWeaponEnabled();
    void addClassNumbering_data();
    void addClassNumbering();
    void addClassRefused_data();
    void addClassRefused();
    void deleteClass();
    void flagBoxesFollowReferenceRows_data();
    void flagBoxesFollowReferenceRows();
    void mainWindowEditOpensEditor();
};

void tst_frmClasses::showsFirstClassWithLabelsAndTabOrder()
{
    Fixture f({3, 1, 2});
    frmClasses &w = f.open();
    QCOMPARE(f.edit("fldClassName")->text(), "Class 1");
    QCOMPARE(f.child<QLabel>("Label31")->text(), kPackage);
    QCOMPARE(f.list("w2")->currentText(), "Scattergun");
    // Every field can be reached by its label.
    QSet<QWidget *> buddies;
    for (QLabel *label : w.findChildren<QLabel *>())
        buddies << label->buddy();
    QStringList unlabelled;
    for (QWidget *field : w.findChildren<QWidget *>())
        if ((qobject_cast<QLineEdit *>(field) || qobject_cast<QComboBox *>(field)) &&
            !buddies.contains(field))
            unlabelled << field->objectName();
    QCOMPARE(unlabelled, QStringList());

    // Tab goes down each column of fields, then through the frames in reading order.
    QStringList chain;
    QWidget *at = f.edit("fldClassName");
    do {
        if ((at->focusPolicy() & Qt::TabFocus) && at->isVisibleTo(&w) &&
            !at->objectName().isEmpty())
            chain << at->objectName();
        at = at->nextInFocusChain();
    } while (at != f.edit("fldClassName"));
    QCOMPARE(chain.mid(0, 13), (QStringList{"fldClassName", "fldModel", "fldSkin1", "fldSkin2",
                                            "Text1", "fldArmor", "fldSpeed", "fldHealth",
                                            "fldDecoySkin", "AddClass", "Command1", "w2", "w3"}));
    for (auto [first, second] :
         {std::pair{"g3", "Check1(0)"}, {"Check1(5)", "maxbullets"}, {"maxslugs", "special(0)"}})
        QCOMPARE(chain.indexOf(first) + 1, chain.indexOf(second));
}

void tst_frmClasses::editsSurviveMoveAndClose()
{
    Fixture f;
    f.open();
    const QStringList fields{"fldClassName", "fldModel",  "fldSkin1",   "fldSkin2",
                             "fldArmor",     "fldSpeed",  "fldHealth",  "fldDecoySkin",
                             "maxbullets",   "maxshells", "maxrockets", "maxgrenades",
                             "maxcells",     "maxslugs"};
    const QStringList columns = QStringList{"class_name", "model_name", "skin_name1", "skin_name2",
                                            "max_armor",  "max_speed",  "max_health", "decoyskin"} +
                                fields.mid(8); // the ammunition fields are named as their columns
    const QStringList typed{"Sniper", "female", "red", "blue", "-5", "32767", "0",
                            "7",      "1",      "2",   "3",    "4",  "5",     "6"};
    for (int i = 0; i < fields.size(); ++i) {
        f.edit(qPrintable(fields[i]))->selectAll();
        QTest::keyClicks(f.edit(qPrintable(fields[i])), typed[i]);
    }
    // Click near the left edge: a wide check box is not toggled in its middle.
    auto *medikit = f.child<QCheckBox>("Check1(1)");
    QTest::mouseClick(medikit, Qt::LeftButton, {}, QPoint(6, medikit->height() / 2));
    f.child<QCheckBox>("special(9)")->setChecked(true);
    QVERIFY(f.nav()->moveNext());
    QCOMPARE(f.edit("fldClassName")->text(), "Class 2");
    for (int i = 0; i < fields.size(); ++i)
        QCOMPARE(f.stored(columns[i], 1).toString(), typed[i]);
    // Check boxes store 0 or 1 in the column of their row.
    for (auto [column, value] : {std::pair{"i2", 1}, {"s10", 1}, {"i1", 0}, {"s1", 0}})
        QCOMPARE(f.stored(column, 1), QVariant(value));

    f.edit("fldClassName")->setText("Closed");
    QVERIFY(f.editor->close());
    QCOMPARE(f.stored("class_name", 2).toString(), "Closed");
    QCOMPARE(f.writes(), 2);
}

void tst_frmClasses::unofferedSlotsAreKeptAndNeverWritten_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("shown");
    QTest::newRow("null") << "w4" << QVariant() << "(no value)";
    QTest::newRow("zero") << "w5" << QVariant(0) << "(none)";
    QTest::newRow("disabled weapon") << "w6" << QVariant(5) << "Rail Lance (5, not offered)";
    QTest::newRow("deleted weapon") << "w7" << QVariant(99) << "99 (no such weapon)";
    QTest::newRow("disabled grenade") << "g2" << QVariant(3) << "Napalm Grenade (3, not offered)";
}

void tst_frmClasses::unofferedSlotsAreKeptAndNeverWritten()
{
    QFETCH(QString, list);
    QFETCH(QVariant, stored);
    QFETCH(QString, shown);
    Fixture f;
    f.peek.exec(QStringLiteral("UPDATE classdef SET %1 = ? WHERE class_num = 2").arg(list),
                {stored});
    f.peek.exec(QStringLiteral("UPDATE classdef SET %1 = 1 WHERE class_num = 1").arg(list));
    f.open();
    QComboBox *combo = f.list(qPrintable(list));
    QVERIFY(f.nav()->moveNext());
    QCOMPARE(combo->currentText(), shown);
    QVERIFY(f.nav()->moveFirst()); // the extra entry goes with the class
    QCOMPARE(combo->findText(shown), -1);
    QVERIFY(f.nav()->moveNext());
    QVERIFY(f.nav()->moveLast());
    QVERIFY(f.editor->close());
    QCOMPARE(f.writes(), 0);
    QCOMPARE(f.prompter.calls().size(), 0);
}

void tst_frmClasses::slotListsAndChoice()
{
    Fixture f;
    // Of two weapons with the same id, the later entry shows it.
    f.ref.exec("INSERT INTO weapon (w_id, w_name, qz_enabled) "
               "VALUES (12, 'Twelve', 1), (3, 'Second Three', 1)");
    frmClasses &w = f.open();
    QCOMPARE(f.list("w3")->currentText(), "Second Three");
    QCOMPARE(w.FindWeaponPos(3), f.list("w3")->currentIndex());
    // A choice stores the entry's id, not its place in the list.
    for (auto [slot, entry] : {std::pair{"w5", "Twelve"}, {"g3", "Gas Grenade"}}) {
        QComboBox *combo = f.list(slot);
        combo->setCurrentIndex(combo->findText(entry));
        emit combo->activated(combo->currentIndex());
    }
    QVERIFY(f.nav()->moveNext());
    QCOMPARE(f.stored("w5", 1).toInt(), 12);
    QCOMPARE(f.stored("g3", 1).toInt(), 4);
    QCOMPARE(f.list("w5")->currentText(), "(none)"); // class 2 still holds none
}

void tst_frmClasses::noWeaponEnabled()
{
    Fixture f;
    f.ref.exec("UPDATE weapon SET qz_enabled = 0");
    f.open();
    QComboBox *w2 = f.list("w2");
    QVERIFY(!w2->isEnabled());
    QCOMPARE(w2->count(), 1);
    QCOMPARE(w2->currentText(), "Scattergun (2, not offered)");
    QVERIFY(f.list("g1")->isEnabled());
    f.click("AddClass");
    QCOMPARE(f.stored("g1", 4).toInt(), 1);
    QCOMPARE(f.stored("w2", 4).toInt(), 0); // the column's default
}

void tst_frmClasses::addClassNumbering_data()
{
    QTest::addColumn<QList<int>>("numbers");
    QTest::addColumn<QString>("typedNumber"); // a pending renumbering of the shown class
    QTest::addColumn<int>("expected");
    QTest::newRow("1 2 7") << QList<int>{1, 2, 7} << QString() << 8;
    QTest::newRow("renumbered to 40, pending") << QList<int>{1, 2, 7} << "40" << 41;
    QTest::newRow("negative") << QList<int>{-9, -5} << QString() << -4;
    // An empty configuration gets class 1 when it is opened.
    QTest::newRow("empty") << QList<int>{} << QString() << 2;
}

void tst_frmClasses::addClassNumbering()
{
    QFETCH(QList<int>, numbers);
    QFETCH(QString, typedNumber);
    QFETCH(int, expected);
    Fixture f(numbers);
    f.open();
    if (!typedNumber.isEmpty())
        f.edit("Text1")->setText(typedNumber);
    QTest::mouseClick(f.child<QPushButton>("AddClass"), Qt::LeftButton);
    const QString name = expected < 0 ? QStringLiteral("Class #%1").arg(expected)
                                      : QStringLiteral("Class # %1").arg(expected);
    QCOMPARE(f.stored("class_name", expected).toString(), name);
    QCOMPARE(f.stored("package_name", expected).toString(), kPackage);
    QCOMPARE(f.edit("fldClassName")->text(), name);
    QCOMPARE(f.nav()->currentIndex(), f.nav()->recordCount() - 1);
    // A new class holds the first offered weapon and grenade in every slot.
    for (const char *slot :
         {"w2", "w3", "w4", "w5", "w6", "w7", "w8", "w9", "w10", "g1", "g2", "g3"})
        QCOMPARE(f.stored(slot, expected).toInt(), 1);
    QCOMPARE(f.list("w10")->currentText(), "Blaster");
    QVERIFY(f.prompter.busyCount() > 0);
    QCOMPARE(f.prompter.busyDepth(), 0);
}

void tst_frmClasses::addClassRefused_data()
{
    QTest::addColumn<QList<int>>("numbers");
    QTest::addColumn<QString>("health"); // typed into the shown class
    QTest::addColumn<QString>("message");
    QTest::newRow("no number left") << QList<int>{1, 32767} << QString() << "32767";
    QTest::newRow("pending edit refused")
        << QList<int>{1, 2, 3} << "40000"
        << "Max Health: 40000 is out of range; it must lie between -32768 and 32767.";
}

void tst_frmClasses::addClassRefused()
{
    QFETCH(QList<int>, numbers);
    QFETCH(QString, health);
    QFETCH(QString, message);
    Fixture f(numbers);
    f.open();
    if (!health.isEmpty())
        f.edit("fldHealth")->setText(health);
    f.click("AddClass");
    QVERIFY2(f.prompter.lastMessage().contains(message), qPrintable(f.prompter.lastMessage()));
    QCOMPARE(f.classes(), numbers.size());
    QCOMPARE(f.nav()->currentIndex(), 0);
    QCOMPARE(f.edit("fldHealth")->text(), health.isEmpty() ? "0" : health);
    QCOMPARE(f.writes(), 0);
    QCOMPARE(f.prompter.busyDepth(), 0);
}

void tst_frmClasses::deleteClass()
{
    Fixture f({1, 2, 3, 4, 5});
    f.open();
    QVERIFY(f.nav()->moveTo(2));
    f.edit("fldClassName")->setText("dropped");
    f.click("Command1");
    QCOMPARE(f.classes(), 4);
    QVERIFY(f.stored("class_name", 3).isNull());
    QCOMPARE(f.edit("fldClassName")->text(), "Class 1");
    for (int i = 0; i < 4; ++i)
        f.click("Command1");
    QCOMPARE(f.classes(), 0);
    QCOMPARE(f.prompter.lastMessage(), "You should add a new class before changing any fields");
    QVERIFY(!f.edit("fldClassName")->isEnabled());
    QVERIFY(!f.list("w2")->isEnabled());
    f.click("Command1"); // none left: the message again
    QCOMPARE(f.prompter.messages().size(), 2);
    QCOMPARE(f.peek.count("package"), 1);
    QCOMPARE(f.writes(), 0); // the dropped edit was never stored
    f.click("AddClass");
    QVERIFY(f.edit("fldClassName")->isEnabled());
    QCOMPARE(f.edit("fldClassName")->text(), "Class # 1");
}

void tst_frmClasses::flagBoxesFollowReferenceRows_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("boxes");
    QTest::newRow("5 items") << "item" << 5 << 8;
    QTest::newRow("12 items") << "item" << 12 << 8;
    QTest::newRow("40 specials") << "special" << 40 << 31;
}

void tst_frmClasses::flagBoxesFollowReferenceRows()
{
    QFETCH(QString, table);
    QFETCH(int, rows);
    QFETCH(int, boxes);
    Fixture f;
    f.ref.exec("DELETE FROM " + table);
    const auto id = [](int k) {
        return k == 3 ? 12 : qint64(1) << k;
    };                                  // place 3 breaks the rule
    for (int k = rows - 1; k >= 0; --k) // qz_enabled cycles through 1, NULL, 0 and 2
        f.ref.exec(QStringLiteral("INSERT INTO %1 (%2_id, %2_name, qz_enabled) VALUES (?, ?, ?)")
                       .arg(table, table.left(1)),
                   {id(k), QStringLiteral("%1 %2").arg(table).arg(k),
                    QVariantList{1, QVariant(), 0, 2}.at(k % 4)});
    f.open();
    const QString name = table == "item" ? QStringLiteral("Check1(%1)") : "special(%1)";
    for (int k = 0; k < boxes; ++k) {
        const QCheckBox *box = f.child<QCheckBox>(qPrintable(name.arg(k)));
        const bool used = k < rows;
        QCOMPARE(box->isVisibleTo(f.editor.get()), used);
        QCOMPARE(box->property("tag").toString(), used ? QString::number(id(k)) : "0");
        if (used) {
            QCOMPARE(box->text(), QStringLiteral("%1 %2").arg(table).arg(k));
            QCOMPARE(box->isEnabled(), k % 4 < 2);
            QCOMPARE(box->toolTip().isEmpty(), k != 3);
        }
    }
}

void tst_frmClasses::mainWindowEditOpensEditor()
{
    Fixture f;
    AppState &state = f.dir.start();
    frmConfig main(state, f.prompter);
    auto *list = main.findChild<QListWidget *>("classlist");
    list->setCurrentRow(0);
    QString seen;
    QTimer::singleShot(0, [&seen] {
        auto *editor = qobject_cast<frmClasses *>(QApplication::activeModalWidget());
        QVERIFY(editor);
        auto *name = editor->findChild<QLineEdit *>("fldClassName");
        seen = name->text();
        name->setText("Via Edit");
        editor->close();
    });
    main.findChild<QPushButton *>("btEdit")->click();
    QCOMPARE(seen, "Class 1");
    QCOMPARE(f.stored("class_name", 1).toString(), "Via Edit");
    QCOMPARE(state.currentPackage(), kPackage);
    QCOMPARE(list->selectedItems().size(), 1);
    QCOMPARE(f.prompter.busyDepth(), 0);
}

QTEST_MAIN(tst_frmClasses)
#include "tst_frmclasses.moc"
