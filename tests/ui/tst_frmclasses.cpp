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
        peek.exec(QStringLiteral("DELETE FROM classdef"));
        peek.exec(QStringLiteral("DELETE FROM package"));
        peek.exec(QStringLiteral("INSERT INTO package VALUES (?)"), {kPackage});
        for (int n : numbers)
            peek.exec(QStringLiteral(
                          "INSERT INTO classdef (package_name, class_num, class_name, max_speed, "
                          "w2, w3, g1) VALUES (?, ?, ?, ?, 2, 3, 1)"),
                      {kPackage, n, QStringLiteral("Class %1").arg(n), 300 + n});
        peek.exec(QStringLiteral("CREATE TABLE writes (n INTEGER)"));
        peek.exec(QStringLiteral("INSERT INTO writes VALUES (0)"));
        peek.exec(QStringLiteral("CREATE TRIGGER counted AFTER UPDATE ON classdef BEGIN "
                                 "UPDATE writes SET n = n + 1; END"));
    }
    frmClasses &open()
    {
        AppState &state = dir.start();
        state.setCurrentPackage(kPackage);
        editor = std::make_unique<frmClasses>(state, prompter);
        editor->show();
        return *editor;
    }
    template<typename T> T *child(const QString &name) const
    {
        T *w = editor->findChild<T *>(name);
        if (!w)
            qFatal("no control %s", qPrintable(name));
        return w;
    }
    QLineEdit *edit(const char *name) const { return child<QLineEdit>(QLatin1String(name)); }
    QComboBox *list(const char *name) const { return child<QComboBox>(QLatin1String(name)); }
    QCheckBox *box(const QString &name) const { return child<QCheckBox>(name); }
    DataControl *nav() const { return editor->navigator(); }
    QVariant stored(const QString &column, int number) const
    {
        return peek.scalar(
            QStringLiteral("SELECT %1 FROM classdef WHERE class_num = ?").arg(column), {number});
    }
    int writes() const { return peek.scalar(QStringLiteral("SELECT n FROM writes")).toInt(); }
    int classes() const
    {
        return peek.scalar(QStringLiteral("SELECT count(*) FROM classdef")).toInt();
    }
    // Picks an entry as the user does: the list emits activated.
    void pick(QComboBox *combo, const QString &text)
    {
        const int index = combo->findText(text);
        QVERIFY2(index >= 0, qPrintable(text));
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

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
    void loadsFirstClassWithLabelsAsBuddies();
    void editsSurviveMoveAndClose();
    void showingNeverWrites();
    void unofferedSlotsAreKeptAndShown_data();
    void unofferedSlotsAreKeptAndShown();
    void slotChoiceStoresItemData();
    void checkBoxesStoreZeroOrOne();
    void addClassNumbering_data();
    void addClassNumbering();
    void addClassRefusedAtTopNumber();
    void emptyConfigurationGetsClassOne();
    void deleteClass();
    void flagBoxesFollowReferenceRows_data();
    void flagBoxesFollowReferenceRows();
    void duplicateWeaponIdShowsLaterEntry();
    void noWeaponEnabled();
    void refusedWriteKeepsUserOnClass();
    void mainWindowEditOpensEditor();
};

void tst_frmClasses::loadsFirstClassWithLabelsAsBuddies()
{
    Fixture f({3, 1, 2});
    frmClasses &w = f.open();
    QCOMPARE(w.windowTitle(), QStringLiteral("QZ TARN 1 - Class Configuration"));
    QCOMPARE(f.edit("fldClassName")->text(), QStringLiteral("Class 1"));
    QCOMPARE(f.child<QLabel>(QStringLiteral("Label31"))->text(), kPackage);
    QCOMPARE(f.child<QLabel>(QStringLiteral("Label12"))->text(), QStringLiteral("Blaster"));
    QCOMPARE(f.child<QPushButton>(QStringLiteral("AddClass"))->text(),
             QStringLiteral("Add  Class"));
    QCOMPARE(f.nav()->caption(), QStringLiteral("Class Def"));
    QCOMPARE(f.nav()->objectName(), QStringLiteral("dbClassDef"));
    QCOMPARE(f.list("w2")->currentText(), QStringLiteral("Scattergun"));
    QCOMPARE(f.list("w2")->itemData(f.list("w2")->currentIndex()).toInt(), 2);
    // Every field can be reached by its label.
    QStringList unlabelled;
    for (QWidget *field : w.findChildren<QWidget *>()) {
        if (!qobject_cast<QLineEdit *>(field) && !qobject_cast<QComboBox *>(field))
            continue;
        bool found = false;
        for (QLabel *label : w.findChildren<QLabel *>())
            found |= label->buddy() == field;
        if (!found)
            unlabelled << field->objectName();
    }
    QCOMPARE(unlabelled, QStringList());
    QCOMPARE(f.prompter.busyDepth(), 0);

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
    QCOMPARE(chain.indexOf(QStringLiteral("g3")) + 1, chain.indexOf(QStringLiteral("Check1(0)")));
    QCOMPARE(chain.indexOf(QStringLiteral("Check1(5)")) + 1,
             chain.indexOf(QStringLiteral("maxbullets")));
    QCOMPARE(chain.indexOf(QStringLiteral("maxslugs")) + 1,
             chain.indexOf(QStringLiteral("special(0)")));
}

void tst_frmClasses::editsSurviveMoveAndClose()
{
    Fixture f;
    f.open();
    const QList<std::pair<const char *, QString>> typed{
        {"fldClassName", "Sniper"}, {"fldModel", "female"}, {"fldSkin1", "red"},
        {"fldSkin2", "blue"},       {"fldArmor", "-5"},     {"fldSpeed", "32767"},
        {"fldHealth", "0"},         {"fldDecoySkin", "7"},  {"maxbullets", "1"},
        {"maxshells", "2"},         {"maxrockets", "3"},    {"maxgrenades", "4"},
        {"maxcells", "5"},          {"maxslugs", "6"}};
    for (const auto &[name, text] : typed) {
        f.edit(name)->selectAll();
        QTest::keyClicks(f.edit(name), text);
    }
    QTest::mouseClick(f.nav()->findChild<QWidget *>(QStringLiteral("next")), Qt::LeftButton);
    QCOMPARE(f.edit("fldClassName")->text(), QStringLiteral("Class 2"));
    const QStringList columns{"class_name", "model_name",  "skin_name1", "skin_name2", "max_armor",
                              "max_speed",  "max_health",  "decoyskin",  "maxbullets", "maxshells",
                              "maxrockets", "maxgrenades", "maxcells",   "maxslugs"};
    for (int i = 0; i < columns.size(); ++i)
        QCOMPARE(f.stored(columns.at(i), 1).toString(), typed.at(i).second);

    f.edit("fldClassName")->setText(QStringLiteral("Closed"));
    QVERIFY(f.editor->close());
    QCOMPARE(f.stored(QStringLiteral("class_name"), 2).toString(), QStringLiteral("Closed"));
    QCOMPARE(f.writes(), 2);
}

void tst_frmClasses::showingNeverWrites()
{
    Fixture f;
    // Slots holding NULL, 0, a disabled and a missing weapon, and grenade 3 (disabled).
    f.peek.exec(QStringLiteral("UPDATE classdef SET w4 = NULL, w5 = 0, w6 = 5, w7 = 99, g2 = 3"));
    f.peek.exec(QStringLiteral("UPDATE writes SET n = 0"));
    f.open();
    for (int i = 0; i < 3; ++i) {
        QVERIFY(f.nav()->moveNext());
        QVERIFY(f.nav()->moveLast());
        QVERIFY(f.nav()->moveFirst());
    }
    QVERIFY(f.editor->close());
    QCOMPARE(f.writes(), 0);
    QCOMPARE(f.prompter.calls().size(), 0);
}

void tst_frmClasses::unofferedSlotsAreKeptAndShown_data()
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

void tst_frmClasses::unofferedSlotsAreKeptAndShown()
{
    QFETCH(QString, list);
    QFETCH(QVariant, stored);
    QFETCH(QString, shown);
    Fixture f;
    f.peek.exec(QStringLiteral("UPDATE classdef SET %1 = ? WHERE class_num = 2").arg(list),
                {stored});
    f.peek.exec(QStringLiteral("UPDATE classdef SET %1 = 1 WHERE class_num = 1").arg(list));
    f.open();
    QComboBox *combo = f.list(list.toLatin1());
    QVERIFY(f.nav()->moveNext());
    QCOMPARE(combo->currentText(), shown);
    QVERIFY(f.nav()->moveFirst()); // the extra entry goes with the class
    QCOMPARE(combo->findText(shown), -1);
    QVERIFY(f.nav()->moveNext());
    QVERIFY(f.editor->close());
    QCOMPARE(f.stored(list, 2).isNull(), stored.isNull());
    if (!stored.isNull())
        QCOMPARE(f.stored(list, 2).toInt(), stored.toInt());
}

void tst_frmClasses::slotChoiceStoresItemData()
{
    Fixture f;
    f.ref.exec(
        QStringLiteral("INSERT INTO weapon (w_id, w_name, qz_enabled) VALUES (12, 'Twelve', 1)"));
    f.open();
    f.pick(f.list("w5"), QStringLiteral("Twelve"));
    f.pick(f.list("g3"), QStringLiteral("Gas Grenade"));
    QCOMPARE(f.nav()->value(QStringLiteral("w5")).toInt(), 12);
    QVERIFY(f.nav()->moveNext());
    QCOMPARE(f.stored(QStringLiteral("w5"), 1).toInt(), 12);
    QCOMPARE(f.stored(QStringLiteral("g3"), 1).toInt(), 4);
    QCOMPARE(f.list("w5")->currentText(), QStringLiteral("(none)")); // class 2 still holds none
}

void tst_frmClasses::checkBoxesStoreZeroOrOne()
{
    Fixture f;
    f.open();
    // Click near the left edge: a wide check box is not toggled in its middle.
    QCheckBox *medikit = f.box(QStringLiteral("Check1(1)"));
    QTest::mouseClick(medikit, Qt::LeftButton, {}, QPoint(6, medikit->height() / 2));
    QVERIFY(medikit->isChecked());
    f.box(QStringLiteral("special(9)"))->setChecked(true);
    QVERIFY(f.nav()->moveNext());
    QCOMPARE(f.stored(QStringLiteral("i2"), 1), QVariant(1));
    QCOMPARE(f.stored(QStringLiteral("s10"), 1), QVariant(1));
    QCOMPARE(f.stored(QStringLiteral("s1"), 1), QVariant(0));
    QVERIFY(!medikit->isChecked());
    QVERIFY(f.nav()->movePrevious());
    medikit->setChecked(false);
    QVERIFY(f.editor->close());
    QCOMPARE(f.stored(QStringLiteral("i2"), 1), QVariant(0));
}

void tst_frmClasses::addClassNumbering_data()
{
    QTest::addColumn<QList<int>>("numbers");
    QTest::addColumn<QString>("typedNumber"); // a pending renumbering of the shown class
    QTest::addColumn<int>("expected");
    QTest::newRow("1 2 7") << QList<int>{1, 2, 7} << QString() << 8;
    QTest::newRow("renumbered to 40, pending") << QList<int>{1, 2, 7} << QStringLiteral("40") << 41;
    QTest::newRow("negative") << QList<int>{-9, -5} << QString() << -4;
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
    QTest::mouseClick(f.child<QPushButton>(QStringLiteral("AddClass")), Qt::LeftButton);
    const QString name = expected < 0 ? QStringLiteral("Class #%1").arg(expected)
                                      : QStringLiteral("Class # %1").arg(expected);
    QCOMPARE(f.stored(QStringLiteral("class_name"), expected).toString(), name);
    QCOMPARE(f.edit("fldClassName")->text(), name);
    QCOMPARE(f.nav()->currentIndex(), f.nav()->recordCount() - 1);
    // A new class holds the first offered weapon and grenade in every slot.
    for (int k = 2; k <= 10; ++k)
        QCOMPARE(f.stored(QStringLiteral("w%1").arg(k), expected).toInt(), 1);
    for (int k = 1; k <= 3; ++k)
        QCOMPARE(f.stored(QStringLiteral("g%1").arg(k), expected).toInt(), 1);
    QCOMPARE(f.list("w10")->currentText(), QStringLiteral("Blaster"));
    QCOMPARE(f.prompter.busyCount(), 1);
    QCOMPARE(f.prompter.busyDepth(), 0);
}

void tst_frmClasses::addClassRefusedAtTopNumber()
{
    Fixture f({1, 32767});
    f.open();
    f.child<QPushButton>(QStringLiteral("AddClass"))->click();
    QVERIFY(f.prompter.lastMessage().contains(QStringLiteral("32767")));
    QCOMPARE(f.classes(), 2);
    QCOMPARE(f.prompter.busyDepth(), 0);
}

void tst_frmClasses::emptyConfigurationGetsClassOne()
{
    Fixture f(QList<int>{});
    f.open();
    QCOMPARE(f.classes(), 1);
    QCOMPARE(f.stored(QStringLiteral("class_name"), 1).toString(), QStringLiteral("Class # 1"));
    QCOMPARE(f.stored(QStringLiteral("package_name"), 1).toString(), kPackage);
    QVERIFY(f.edit("fldClassName")->isEnabled());
}

void tst_frmClasses::deleteClass()
{
    Fixture f({1, 2, 3, 4, 5});
    f.open();
    QVERIFY(f.nav()->moveTo(2));
    f.edit("fldClassName")->setText(QStringLiteral("dropped"));
    f.child<QPushButton>(QStringLiteral("Command1"))->click();
    QCOMPARE(f.classes(), 4);
    QCOMPARE(f.edit("fldClassName")->text(), QStringLiteral("Class 1"));
    QCOMPARE(
        f.peek.scalar(QStringLiteral("SELECT count(*) FROM classdef WHERE class_name = 'dropped'"))
            .toInt(),
        0);
    for (int i = 0; i < 4; ++i)
        f.child<QPushButton>(QStringLiteral("Command1"))->click();
    QCOMPARE(f.classes(), 0);
    QCOMPARE(f.prompter.lastMessage(),
             QStringLiteral("You should add a new class before changing any fields"));
    QVERIFY(!f.edit("fldClassName")->isEnabled());
    QVERIFY(!f.list("w2")->isEnabled());
    f.child<QPushButton>(QStringLiteral("Command1"))->click(); // none left: the message again
    QCOMPARE(f.prompter.messages().size(), 2);
    QCOMPARE(f.peek.count(QStringLiteral("package")), 1);
    f.child<QPushButton>(QStringLiteral("AddClass"))->click();
    QVERIFY(f.edit("fldClassName")->isEnabled());
    QCOMPARE(f.edit("fldClassName")->text(), QStringLiteral("Class # 1"));
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
    const QString prefix = table.left(1);
    f.ref.exec(QStringLiteral("DELETE FROM %1").arg(table));
    for (int k = rows - 1; k >= 0; --k) {
        // qz_enabled cycles through 1, NULL, 0 and 2; the row at place 3 breaks the rule.
        const QVariant enabled = QVariantList{1, QVariant(), 0, 2}.at(k % 4);
        const qint64 id = k == 3 ? 12 : qint64(1) << k;
        f.ref.exec(QStringLiteral("INSERT INTO %1 (%2_id, %2_name, qz_enabled) VALUES (?, ?, ?)")
                       .arg(table, prefix),
                   {id, QStringLiteral("%1 %2").arg(table).arg(k), enabled});
    }
    f.open();
    for (int k = 0; k < boxes; ++k) {
        QCheckBox *box = f.box((table == QLatin1String("item") ? QStringLiteral("Check1(%1)")
                                                               : QStringLiteral("special(%1)"))
                                   .arg(k));
        const bool used = k < rows;
        QCOMPARE(box->isVisibleTo(f.editor.get()), used);
        if (!used) {
            QCOMPARE(box->property("tag").toString(), QStringLiteral("0"));
            continue;
        }
        QCOMPARE(box->text(), QStringLiteral("%1 %2").arg(table).arg(k));
        QCOMPARE(box->property("tag").toString(), QString::number(k == 3 ? 12 : qint64(1) << k));
        QCOMPARE(box->isEnabled(), k % 4 < 2);
        QCOMPARE(box->toolTip().isEmpty(), k != 3);
    }
}

void tst_frmClasses::duplicateWeaponIdShowsLaterEntry()
{
    Fixture f;
    f.ref.exec(QStringLiteral(
        "INSERT INTO weapon (w_id, w_name, qz_enabled) VALUES (3, 'Second Three', 1)"));
    frmClasses &w = f.open();
    QCOMPARE(f.list("w3")->currentText(), QStringLiteral("Second Three"));
    QCOMPARE(w.FindWeaponPos(3), f.list("w3")->findText(QStringLiteral("Second Three")));
    QCOMPARE(w.FindWeaponPos(QVariant()), -1);
    QCOMPARE(w.FindGrenadePos(4), 2);
}

void tst_frmClasses::noWeaponEnabled()
{
    Fixture f;
    f.ref.exec(QStringLiteral("UPDATE weapon SET qz_enabled = 0"));
    f.open();
    QComboBox *w2 = f.list("w2");
    QVERIFY(!w2->isEnabled());
    QCOMPARE(w2->count(), 1);
    QCOMPARE(w2->currentText(), QStringLiteral("Scattergun (2, not offered)"));
    QVERIFY(f.list("g1")->isEnabled());
    f.child<QPushButton>(QStringLiteral("AddClass"))->click();
    QVERIFY(f.stored(QStringLiteral("g1"), 4).toInt() == 1);
    QCOMPARE(f.stored(QStringLiteral("w2"), 4).toInt(), 0); // the column's default
}

void tst_frmClasses::refusedWriteKeepsUserOnClass()
{
    Fixture f;
    f.open();
    f.edit("fldHealth")->setText(QStringLiteral("40000"));
    QVERIFY(!f.nav()->moveNext());
    QVERIFY(!f.editor->close());
    f.child<QPushButton>(QStringLiteral("AddClass"))->click();
    QCOMPARE(f.classes(), 3);
    QCOMPARE(f.nav()->currentIndex(), 0);
    QCOMPARE(
        f.prompter.lastMessage(),
        QStringLiteral("Max Health: 40000 is out of range; it must lie between -32768 and 32767."));
    QCOMPARE(f.prompter.busyDepth(), 0);
    QCOMPARE(f.writes(), 0);
}

void tst_frmClasses::mainWindowEditOpensEditor()
{
    Fixture f;
    AppState &state = f.dir.start();
    frmConfig main(state, f.prompter);
    QListWidget *list = main.findChild<QListWidget *>(QStringLiteral("classlist"));
    list->setCurrentRow(0);
    QString seen;
    QTimer::singleShot(0, [&] {
        auto *editor = qobject_cast<frmClasses *>(QApplication::activeModalWidget());
        QVERIFY(editor);
        seen = editor->findChild<QLineEdit *>(QStringLiteral("fldClassName"))->text();
        editor->findChild<QLineEdit *>(QStringLiteral("fldClassName"))
            ->setText(QStringLiteral("Via Edit"));
        editor->close();
    });
    main.findChild<QPushButton *>(QStringLiteral("btEdit"))->click();
    QCOMPARE(seen, QStringLiteral("Class 1"));
    QCOMPARE(f.stored(QStringLiteral("class_name"), 1).toString(), QStringLiteral("Via Edit"));
    QCOMPARE(state.currentPackage(), kPackage);
    QCOMPARE(list->selectedItems().size(), 1);
    QCOMPARE(f.prompter.busyDepth(), 0);
}

QTEST_MAIN(tst_frmClasses)
#include "tst_frmclasses.moc"
