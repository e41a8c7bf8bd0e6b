#include "platform/datacontrol.h"
#include "platform/recorddialog.h"
#include "scriptedprompter.h"
#include "testsupport.h"
#include "ui/reference/refeditors.h"
#include "widgets.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace tarn;
using namespace tarn::test;
using schema::RefKind;

Q_DECLARE_METATYPE(RefKind)

namespace
{

const RefKind kAll[] = {RefKind::Weapon, RefKind::Grenade, RefKind::Item, RefKind::Special};
const RefKind kRecords[] = {RefKind::Weapon, RefKind::Grenade};
const RefKind kFlags[] = {RefKind::Item, RefKind::Special};

// An editor over the sample rows, or over rows with just the given ids.
struct Fixture {
    explicit Fixture(RefKind kind, const std::optional<QVariantList> &ids = std::nullopt)
        : t(schema::refTable(kind))
    {
        if (ids) {
            Peek peek(dir.refPath());
            peek.exec(QStringLiteral("DELETE FROM ") + t.table);
            for (const QVariant &id : *ids)
                peek.exec(QStringLiteral("INSERT INTO %1 (%2, %3) VALUES (?, 'Row')")
                              .arg(t.table, t.idColumn, t.nameColumn),
                          {id});
        }
        state = &dir.start();
        window = makeRefEditor(kind, *state, prompter);
        window->show(); // a hidden dialog closes without storing
    }
    QLineEdit *edit(const char *name) { return window->findChild<QLineEdit *>(name); }
    QString text(const char *name) { return edit(name)->text(); }
    DataControl *control() { return window->findChild<DataControl *>(); }
    void click(const char *name) { window->findChild<QPushButton *>(name)->click(); }
    QLabel *warning() { return window->findChild<QLabel *>("lblIdWarning"); }
    QString storedIds() // in id order
    {
        return Peek(dir.refPath())
            .joined(QStringLiteral("SELECT %1 FROM %2 ORDER BY %1").arg(t.idColumn, t.table),
                    QStringLiteral(" "));
    }

    const schema::RefTable &t;
    DataDir dir;
    AppState *state = nullptr;
    ScriptedPrompter prompter;
    std::unique_ptr<RecordDialog> window;
};

// A row for each kind, named "<table> <name>", for the tests the twins share.
template<typename... Values>
void rowPerKind(std::span<const RefKind> kinds, const char *name, Values... values)
{
    for (RefKind kind : kinds)
        ((QTest::newRow(qPrintable(QString::fromLatin1(schema::refTable(kind).table) + ' ' + name))
          << kind)
         << ... << values);
}

struct Refusal {
    const char *name;
    RefKind kind;
    QString typed;
    QString message{}; // empty: stored
    const char *field = "Text1";
};

} // namespace

class tst_RefEditors : public QObject
{
    Q_OBJECT

private slots:
    void laidOut_data();
    void laidOut();
    void deleteShowsLowestThenEmpty_data();
    void deleteShowsLowestThenEmpty();
    void addRecord_data();
    void addRecord();
    void refusedWriteKeepsUserOnRow_data();
    void refusedWriteKeepsUserOnRow();
    void bitNumber_data();
    void bitNumber();
    void calculator_data();
    void calculator();
    void warning_data();
    void warning();
    void warningFollowsStoredIds();
    void rowChangedMeanwhile_data();
    void rowChangedMeanwhile();
};

void tst_RefEditors::laidOut_data()
{
    QTest::addColumn<RefKind>("kind");
    rowPerKind(kAll, "");
}

void tst_RefEditors::laidOut()
{
    QFETCH(RefKind, kind);
    Fixture f(kind);
    const QString tabOrder =
        kind <= RefKind::Grenade
            ? "Text1 Text2 Text3 Text4 Text5 Command1 Command2"
            : "Text1 Text2 Text5 Command1 Command2 fldBitNum btnCalc fldResult";
    QCOMPARE(tabChain(f.edit("Text1"), int(tabOrder.count(' ')) + 1), tabOrder);
    QList<QWidget *> shown;
    for (QWidget *w : f.window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (!w->isVisible())
            continue;
        for (QWidget *other : std::as_const(shown))
            QVERIFY2(!w->geometry().intersects(other->geometry()),
                     qPrintable(w->objectName() + " overlaps " + other->objectName()));
        shown << w;
        if (auto *label = qobject_cast<QLabel *>(w))
            QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
    }
    // The longest values in use show whole, without scrolling.
    const char *id = kind <= RefKind::Grenade ? "-32768" : "1073741824";
    for (auto [name, value] :
         {std::pair{"Text1", id}, {"Text2", "Concussion Grenade"}, {"fldResult", "1073741824"}}) {
        if (QLineEdit *edit = f.edit(name)) {
            edit->setText(value);
            edit->setCursorPosition(0);
            const int start = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().left();
            edit->end(false);
            QCOMPARE(edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().left() - start,
                     edit->fontMetrics().horizontalAdvance(value));
        }
    }
}

void tst_RefEditors::deleteShowsLowestThenEmpty_data()
{
    QTest::addColumn<RefKind>("kind");
    rowPerKind(kAll, "");
}

void tst_RefEditors::deleteShowsLowestThenEmpty()
{
    QFETCH(RefKind, kind);
    Fixture f(kind, QVariantList{5, 2, 9});
    QVERIFY(f.control()->moveLast());
    f.click("Command2");
    QCOMPARE(f.text("Text1"), "2");
    QCOMPARE(f.storedIds(), "2 5");
    f.click("Command2");
    f.click("Command2");
    QCOMPARE(f.storedIds(), "");
    for (const char *name : {"Text1", "Text2", "Text5"})
        QVERIFY(f.text(name).isEmpty() && !f.edit(name)->isEnabled());
}

void tst_RefEditors::addRecord_data()
{
    QTest::addColumn<RefKind>("kind");
    QTest::addColumn<QString>("then");
    QTest::addColumn<bool>("typed");
    for (QString then : {"move", "close", "delete"})
        for (bool typed : {true, false})
            rowPerKind(kAll, qPrintable(then + (typed ? "" : " untyped")), then, typed);
}

void tst_RefEditors::addRecord()
{
    QFETCH(RefKind, kind);
    QFETCH(QString, then);
    QFETCH(bool, typed);
    Fixture f(kind);
    const QString before = f.storedIds();
    QVERIFY(f.control()->moveLast());
    f.click("Command1");
    const QStringList values{"0", "New one", "12.75", "-0.5", "1"}; // Text1 to Text5
    for (int i = 0; typed && i < values.size(); ++i)
        if (QLineEdit *edit = f.edit(qPrintable(QStringLiteral("Text%1").arg(i + 1))))
            QTest::keyClicks(edit, values[i]);
    if (then == "move")
        QVERIFY(f.control()->moveFirst());
    else if (then == "close")
        QVERIFY(f.window->close());
    else
        f.click("Command2"); // drops the pending row, deletes nothing
    const bool stored = typed && then != "delete";
    QCOMPARE(f.storedIds(), stored ? "0 " + before : before);
    if (then != "close") // the lowest id, the new row's when it was stored
        QCOMPARE(f.text("Text1"), stored ? "0" : before.section(' ', 0, 0));
    if (stored) {
        const QVariantMap row =
            Peek(f.dir.refPath()).rows(QStringLiteral("SELECT * FROM ") + f.t.table).last();
        for (size_t i = 1; i < f.t.columns.size(); ++i) // fractions kept as typed
            QCOMPARE(row.value(f.t.columns[i].name).toString(),
                     values[i + 1 == f.t.columns.size() ? 4 : i]);
    }
}

// The reference columns' ranges: weapon and grenade ids fit the 16-bit class
// slots, item and special ids 32 bits; other numbers are decimal.
void tst_RefEditors::refusedWriteKeepsUserOnRow_data()
{
    using enum RefKind;
    const QString range = " is out of range; it must lie between -32768 and 32767.";
    addRows<Refusal>({
        {"weapon id 32767", Weapon, "32767"},
        {"weapon id -32768", Weapon, "-32768"},
        {"weapon id 32768", Weapon, "32768", "Weapon ID: 32768" + range},
        {"weapon id -32769", Weapon, "-32769", "Weapon ID: -32769" + range},
        {"grenade id 32767", Grenade, "32767"},
        {"grenade id -32768", Grenade, "-32768"},
        {"grenade id 32768", Grenade, "32768", "Grenade ID: 32768" + range},
        {"grenade id -32769", Grenade, "-32769", "Grenade ID: -32769" + range},
        {"item id 40000", Item, "40000"},
        {"letters in damage", Weapon, "fast", "Damage: 'fast' is not a number.", "Text3"},
        {"id out of range", Special, "2147483648",
         "Special ID: 2147483648 is out of range; it must lie between -2147483648 and 2147483647."},
    });
}

void tst_RefEditors::refusedWriteKeepsUserOnRow()
{
    QFETCH(Refusal, row);
    const auto &[name, kind, typed, message, field] = row;
    Fixture f(kind);
    const QString before = f.storedIds();
    QVERIFY(f.control()->moveTo(1));
    f.edit(field)->setText(typed);
    f.click("Command1");
    if (message.isEmpty()) {
        QVERIFY(f.window->close());
        QVERIFY(f.prompter.messages().isEmpty());
        QVERIFY(f.storedIds().split(' ').contains(typed));
        return;
    }
    QVERIFY(!f.window->close());
    QCOMPARE(f.prompter.messages(), QStringList(2, message));
    QVERIFY(f.window->isVisible() && f.control()->currentIndex() == 1);
    QCOMPARE(f.storedIds(), before);
}

void tst_RefEditors::bitNumber_data()
{
    QTest::addColumn<RefKind>("kind");
    QTest::addColumn<qint64>("id");
    QTest::addColumn<QString>("bit"); // empty: none shown
    for (const char *pair : {"0:0", "1:0", "3:2", "5:2", "6:3", "12:4", "1073741824:30", "-4:"}) {
        const QStringList idBit = QString::fromLatin1(pair).split(':');
        rowPerKind(kFlags, pair, idBit[0].toLongLong(), idBit[1]);
    }
}

void tst_RefEditors::bitNumber()
{
    QFETCH(RefKind, kind);
    QFETCH(qint64, id);
    QFETCH(QString, bit);
    Fixture f(kind, QVariantList{QVariant(), id});
    QVERIFY(f.control()->moveLast());
    QCOMPARE(f.text("fldCalcBit"), bit);
    QVERIFY(f.control()->moveFirst()); // an empty id keeps the last bit number shown
    f.click("Command1");
    QCOMPARE(f.text("fldCalcBit"), bit);
}

void tst_RefEditors::calculator_data()
{
    QTest::addColumn<RefKind>("kind");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("answer"); // empty: refused
    for (const char *pair :
         {"0:1", "30:1073741824", " 10 :1024", "2.5:4", "3.5:16", "31:", "-1:", ":", "two:"}) {
        const QStringList typedAnswer = QString::fromLatin1(pair).split(':');
        // One kind: the calculator does not depend on the table.
        QTest::newRow(pair) << RefKind::Item << typedAnswer[0] << typedAnswer[1];
    }
}

void tst_RefEditors::calculator()
{
    QFETCH(RefKind, kind);
    QFETCH(QString, typed);
    QFETCH(QString, answer);
    Fixture f(kind);
    f.edit("fldBitNum")->setText("1");
    f.click("btnCalc");
    f.edit("fldBitNum")->setText(typed);
    f.click("btnCalc");
    QCOMPARE(f.text("fldResult"), answer.isEmpty() ? "2" : answer);
    QCOMPARE(f.prompter.messages(),
             answer.isEmpty() ? QStringList{"Number must be between 0 and 30"} : QStringList());
}

void tst_RefEditors::warning_data()
{
    QTest::addColumn<RefKind>("kind");
    QTest::addColumn<QVariantList>("ids");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("says"); // empty: no warning
    rowPerKind(kFlags, "powers of two", QVariantList{1, 2, 4, 8}, 3, QString());
    rowPerKind(kFlags, "gap", QVariantList{1, 2, 8}, 2,
               QString("3 in id order, so its id should be 4"));
    rowPerKind(kFlags, "not a power", QVariantList{1, 2, 3}, 2, QString("should be 4"));
    rowPerKind(kFlags, "no id", QVariantList{QVariant(), 1}, 0, QString("should be 1"));
    rowPerKind(kFlags, "shared", QVariantList{1, 2, 2}, 2, QString("has this id"));
    // Only as many rows as a class has boxes can be set on a class.
    QVariantList powers;
    for (int k = 0; k < 32; ++k)
        powers << (qint64(1) << k);
    const QString beyond = "A class has boxes for the first %1 by id only: this is %2, so no class "
                           "can have it.";
    QTest::newRow("item 8 of 8 boxes") << RefKind::Item << powers << 7 << QString();
    QTest::newRow("item 9") << RefKind::Item << powers << 8 << beyond.arg("8 items", "item 9");
    QTest::newRow("special 31 of 31 boxes") << RefKind::Special << powers << 30 << QString();
    QTest::newRow("special 32") << RefKind::Special << powers << 31
                                << beyond.arg("31 special abilities", "special ability 32");
}

void tst_RefEditors::warning()
{
    QFETCH(RefKind, kind);
    QFETCH(QVariantList, ids);
    QFETCH(int, row);
    QFETCH(QString, says);
    Fixture f(kind, ids);
    QVERIFY(f.control()->moveTo(row));
    QCOMPARE(f.warning()->isVisible(), !says.isEmpty());
    QVERIFY(f.warning()->text().contains(says));
}

void tst_RefEditors::warningFollowsStoredIds()
{
    Fixture f(RefKind::Special, QVariantList{1, 2, 8});
    QVERIFY(f.control()->moveLast());
    f.click("Command1"); // the new row has no warning yet
    QVERIFY(!f.warning()->isVisible());
    QVERIFY(f.control()->moveLast());
    f.edit("Text1")->setText("1");
    QVERIFY(f.control()->moveFirst()); // now shares its id with the row shown
    QVERIFY(f.warning()->text().contains("has this id"));
}

void tst_RefEditors::rowChangedMeanwhile_data()
{
    QTest::addColumn<RefKind>("kind");
    QTest::addColumn<QString>("label");
    const char *labels[] = {"Weapon Name", "Grenade Name", "Items Name", "Special Name"};
    for (RefKind kind : kAll)
        QTest::newRow(schema::refTable(kind).table)
            << kind << QString::fromLatin1(labels[static_cast<int>(kind)]);
}

// Another program renames the row shown; the user is told, in this editor's
// words, and keeps their own name.
void tst_RefEditors::rowChangedMeanwhile()
{
    QFETCH(RefKind, kind);
    QFETCH(QString, label);
    Fixture f(kind, QVariantList{1});
    const Peek peek(f.dir.refPath());
    const QString name = QStringLiteral("%1 FROM %2").arg(f.t.nameColumn, f.t.table);
    peek.exec(QStringLiteral("UPDATE %1 SET %2 = 'theirs'").arg(f.t.table, f.t.nameColumn));
    f.edit("Text2")->setText("mine");
    f.prompter.answerChoice(0);
    QVERIFY(f.window->close());
    QCOMPARE(f.prompter.calls().size(), 1);
    QVERIFY(f.prompter.calls().first().text.contains(label + ": \"Row\" -> \"theirs\""));
    QCOMPARE(peek.scalar("SELECT " + name).toString(), "mine");
}

QTEST_MAIN(tst_RefEditors)
#include "tst_refeditors.moc"
