#include "datacontrol.h"
#include "recorddialog.h"
#include "scriptedprompter.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

using namespace tarn;
using namespace tarn::test;

namespace
{

// A window over classdef with a few bound columns, as the editors build them.
class Editor : public RecordDialog
{
public:
    Editor(const Database &db, Prompter &prompter, const QString &package)
    {
        auto *layout = new QVBoxLayout(this);
        for (QWidget *w :
             std::initializer_list<QWidget *>{name, number, speed, flag, owner, control})
            layout->addWidget(w);
        control->setDatabase(&db);
        control->setPrompter(&prompter);
        control->setRecordSource(QStringLiteral("classdef"), QStringLiteral("package_name = ?"),
                                 {package}, QStringLiteral("class_num"));
        control->bind(owner, QStringLiteral("package_name"));
        control->bind(name, QStringLiteral("class_name"), schema::Kind::Text,
                      QStringLiteral("Class Name"));
        control->bind(number, QStringLiteral("class_num"), schema::Kind::Whole16,
                      QStringLiteral("Class Num"));
        control->bind(speed, QStringLiteral("max_speed"), schema::Kind::Whole16,
                      QStringLiteral("Max Speed"));
        control->bind(flag, QStringLiteral("s31"), QStringLiteral("s31"));
        control->bindValue(QStringLiteral("w2"), schema::Kind::Whole16, QStringLiteral("Weapon 2"));
        setDataControl(control);
        control->refresh();
    }
    QLineEdit *name = new QLineEdit(this);
    QLineEdit *number = new QLineEdit(this);
    QLineEdit *speed = new QLineEdit(this);
    QCheckBox *flag = new QCheckBox(this);
    QLabel *owner = new QLabel(this);
    DataControl *control = new DataControl(this);
};

struct Fixture {
    Fixture()
    {
        Peek peek(dir.dataPath());
        peek.exec(QStringLiteral("DELETE FROM classdef"));
        for (int n : {3, 1, 2})
            peek.exec(
                QStringLiteral(
                    "INSERT INTO classdef (package_name, class_name, class_num, max_speed, w2) "
                    "VALUES ('It''s', ?, ?, ?, ?)"),
                {QStringLiteral("Class %1").arg(n), n, n * 100, n});
        peek.exec(QStringLiteral(
            "INSERT INTO classdef (package_name, class_name, class_num) VALUES ('Other', 'X', 1)"));
        peek.exec(QStringLiteral("CREATE TABLE writes (n INTEGER)"));
        peek.exec(QStringLiteral("INSERT INTO writes VALUES (0)"));
        peek.exec(QStringLiteral("CREATE TRIGGER counted AFTER UPDATE ON classdef BEGIN "
                                 "UPDATE writes SET n = n + 1; END"));
        state = &dir.start();
        editor =
            std::make_unique<Editor>(state->data().database(), prompter, QStringLiteral("It's"));
        editor->show(); // a hidden dialog closes without asking
    }
    int writes() const
    {
        return Peek(dir.dataPath()).scalar(QStringLiteral("SELECT n FROM writes")).toInt();
    }
    QVariant stored(const QString &column, int number) const
    {
        return Peek(dir.dataPath())
            .scalar(QStringLiteral(
                        "SELECT %1 FROM classdef WHERE package_name = 'It''s' AND class_num = ?")
                        .arg(column),
                    {number});
    }
    DataDir dir;
    AppState *state = nullptr;
    ScriptedPrompter prompter;
    std::unique_ptr<Editor> editor;
};

} // namespace

class tst_DataControl : public QObject
{
    Q_OBJECT

private slots:
    void showsFilteredRowsInOrder();
    void movingWithoutEditingWritesNothing();
    void editSurvivesEveryWayOut_data();
    void editSurvivesEveryWayOut();
    void refusedWriteKeepsUserOnRow_data();
    void refusedWriteKeepsUserOnRow();
    void checkBoxStoresZeroOrOne();
    void pendingNewRow_data();
    void pendingNewRow();
    void refusedNewRowStaysPending();
    void deleteShowsFirstThenEmpty();
    void rowDeletedElsewhereIsNotRecreated();
};

void tst_DataControl::showsFilteredRowsInOrder()
{
    Fixture f;
    DataControl *c = f.editor->control;
    QCOMPARE(c->recordCount(), 3);
    QCOMPARE(f.editor->name->text(), QStringLiteral("Class 1"));
    QCOMPARE(f.editor->owner->text(), QStringLiteral("It's"));
    QSignalSpy spy(c, &DataControl::repositioned);
    QVERIFY(c->moveLast());
    QCOMPARE(f.editor->name->text(), QStringLiteral("Class 3"));
    QCOMPARE(c->value(QStringLiteral("w2")).toInt(), 3);
    QVERIFY(c->moveNext()); // already last: stays, no reposition
    QCOMPARE(spy.count(), 1);
    QVERIFY(c->movePrevious());
    QCOMPARE(f.editor->name->text(), QStringLiteral("Class 2"));
    QCOMPARE(spy.count(), 2);
}

void tst_DataControl::movingWithoutEditingWritesNothing()
{
    Fixture f;
    DataControl *c = f.editor->control;
    for (int i = 0; i < 3; ++i) {
        QVERIFY(c->moveNext());
        QVERIFY(c->movePrevious());
        QVERIFY(c->moveLast());
        QVERIFY(c->moveFirst());
    }
    // Typing and typing back is no change either.
    f.editor->name->setText(QStringLiteral("temp"));
    f.editor->name->setText(QStringLiteral("Class 1"));
    QVERIFY(c->refresh());
    f.editor->reject();
    QCOMPARE(f.writes(), 0);
    QCOMPARE(f.prompter.calls().size(), 0);
}

void tst_DataControl::editSurvivesEveryWayOut_data()
{
    QTest::addColumn<QString>("way");
    for (const char *way :
         {"next", "previous", "first", "last", "refresh", "close", "key", "button"})
        QTest::newRow(way) << QString::fromLatin1(way);
}

void tst_DataControl::editSurvivesEveryWayOut()
{
    QFETCH(QString, way);
    Fixture f;
    DataControl *c = f.editor->control;
    QVERIFY(c->moveTo(1)); // Class 2
    f.editor->name->end(false);
    QTest::keyClicks(f.editor->name, QStringLiteral(" edited"));
    f.editor->speed->clear();
    f.editor->flag->setChecked(true);
    c->setValue(QStringLiteral("w2"), 7);
    if (way == QLatin1String("next"))
        QVERIFY(c->moveNext());
    else if (way == QLatin1String("previous"))
        QVERIFY(c->movePrevious());
    else if (way == QLatin1String("first"))
        QVERIFY(c->moveFirst());
    else if (way == QLatin1String("last"))
        QVERIFY(c->moveLast());
    else if (way == QLatin1String("refresh"))
        QVERIFY(c->refresh());
    else if (way == QLatin1String("close"))
        QVERIFY(f.editor->close());
    else if (way == QLatin1String("key")) {
        f.editor->show();
        f.editor->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(f.editor.get()));
        QTest::keyClick(f.editor->name, Qt::Key_PageDown);
        QCOMPARE(c->currentIndex(), 2);
    } else {
        QTest::mouseClick(c->findChild<QWidget *>(QStringLiteral("next")), Qt::LeftButton);
        QCOMPARE(c->currentIndex(), 2);
    }
    QCOMPARE(f.stored(QStringLiteral("class_name"), 2).toString(),
             QStringLiteral("Class 2 edited"));
    QVERIFY(f.stored(QStringLiteral("max_speed"), 2).isNull()); // empty text stores NULL
    QCOMPARE(f.stored(QStringLiteral("s31"), 2).toInt(), 1);
    QCOMPARE(f.stored(QStringLiteral("w2"), 2).toInt(), 7);
    QCOMPARE(f.writes(), 1);
}

void tst_DataControl::refusedWriteKeepsUserOnRow_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("message");
    QTest::newRow("letters") << "fast"
                             << "Max Speed: 'fast' is not a whole number.";
    QTest::newRow("fraction") << "2.5"
                              << "Max Speed: '2.5' is not a whole number.";
    QTest::newRow("too big")
        << "32768"
        << "Max Speed: 32768 is out of range; it must lie between -32768 and 32767.";
    QTest::newRow("too small")
        << "-32769"
        << "Max Speed: -32769 is out of range; it must lie between -32768 and 32767.";
    QTest::newRow("beyond any number") << "1e999" << "Max Speed: 1e999 is out of range.";
}

void tst_DataControl::refusedWriteKeepsUserOnRow()
{
    QFETCH(QString, typed);
    QFETCH(QString, message);
    Fixture f;
    DataControl *c = f.editor->control;
    f.editor->name->setText(QStringLiteral("renamed"));
    f.editor->speed->setText(typed);
    QVERIFY(!c->moveNext());
    QVERIFY(!f.editor->close());
    QCOMPARE(f.prompter.messages(), QStringList({message, message}));
    QCOMPARE(c->currentIndex(), 0);
    QCOMPARE(f.editor->speed->text(), typed); // the edit is still there to mend
    QCOMPARE(f.stored(QStringLiteral("class_name"), 1).toString(), QStringLiteral("Class 1"));
    QCOMPARE(f.writes(), 0);

    f.editor->speed->setText(QStringLiteral(" -32768 "));
    QVERIFY(c->moveNext());
    QCOMPARE(f.stored(QStringLiteral("max_speed"), 1).toInt(), -32768);
    QCOMPARE(f.stored(QStringLiteral("class_name"), 1).toString(), QStringLiteral("renamed"));
}

void tst_DataControl::checkBoxStoresZeroOrOne()
{
    Fixture f;
    DataControl *c = f.editor->control;
    f.editor->flag->setChecked(true);
    QVERIFY(c->moveTo(1));
    QVERIFY(!f.editor->flag->isChecked()); // not carried over from the previous row
    f.editor->flag->setChecked(true);
    QVERIFY(c->moveTo(0));
    QCOMPARE(f.stored(QStringLiteral("s31"), 1), QVariant(1));
    QCOMPARE(f.stored(QStringLiteral("s31"), 2), QVariant(1));
    QVERIFY(f.editor->flag->isChecked());
    f.editor->flag->setChecked(false);
    QVERIFY(c->refresh());
    QCOMPARE(f.stored(QStringLiteral("s31"), 1), QVariant(0));
    QCOMPARE(f.writes(), 3);
}

void tst_DataControl::pendingNewRow_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("close");
    QTest::addColumn<int>("rows");
    QTest::newRow("typed then move") << "New one" << false << 4;
    QTest::newRow("typed then close") << "New one" << true << 4;
    QTest::newRow("nothing typed then move") << "" << false << 3;
    QTest::newRow("nothing typed then close") << "" << true << 3;
}

void tst_DataControl::pendingNewRow()
{
    QFETCH(QString, typed);
    QFETCH(bool, close);
    QFETCH(int, rows);
    Fixture f;
    DataControl *c = f.editor->control;
    QVERIFY(c->moveTo(2));
    QVERIFY(c->addNew());
    QVERIFY(f.editor->name->text().isEmpty());
    QVERIFY(f.editor->name->isEnabled());
    f.editor->name->setText(typed);
    f.editor->number->setText(typed.isEmpty() ? QString() : QStringLiteral("0"));
    if (close)
        QVERIFY(f.editor->close());
    else
        QVERIFY(c->moveFirst());
    Peek peek(f.dir.dataPath());
    QCOMPARE(peek.scalar(QStringLiteral("SELECT count(*) FROM classdef")).toInt(), rows + 1);
    if (!typed.isEmpty() && !close) {
        // The stored row takes its place in the order: class_num 0 comes first.
        QCOMPARE(c->recordCount(), 3); // the filter does not match the new row's NULL package
    }
}

void tst_DataControl::refusedNewRowStaysPending()
{
    Fixture f;
    Peek(f.dir.dataPath())
        .exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON classdef "
                             "BEGIN SELECT RAISE(ABORT, 'disk full'); END"));
    DataControl *c = f.editor->control;
    QVERIFY(c->addNew());
    f.editor->name->setText(QStringLiteral("typed"));
    QVERIFY(!c->moveFirst());
    QVERIFY(f.prompter.lastMessage().contains(QStringLiteral("disk full")));
    QVERIFY(c->isAddingNew());
    QCOMPARE(f.editor->name->text(), QStringLiteral("typed"));
    QVERIFY(!f.editor->close());
}

void tst_DataControl::deleteShowsFirstThenEmpty()
{
    Fixture f;
    DataControl *c = f.editor->control;
    QVERIFY(c->moveTo(1));
    f.editor->name->setText(QStringLiteral("dropped with the row"));
    QVERIFY(c->deleteCurrent());
    QCOMPARE(c->recordCount(), 2);
    QCOMPARE(c->currentIndex(), 0);
    QCOMPARE(f.editor->name->text(), QStringLiteral("Class 1"));
    QVERIFY(c->deleteCurrent());
    QVERIFY(c->deleteCurrent());
    QCOMPARE(c->recordCount(), 0);
    QCOMPARE(c->currentIndex(), -1);
    QVERIFY(f.editor->name->text().isEmpty());
    QVERIFY(!f.editor->name->isEnabled());
    QVERIFY(c->deleteCurrent()); // nothing current: nothing happens
    QVERIFY(c->moveNext());
    QCOMPARE(Peek(f.dir.dataPath()).scalar(QStringLiteral("SELECT count(*) FROM classdef")).toInt(),
             1);
    QCOMPARE(f.writes(), 0);
}

void tst_DataControl::rowDeletedElsewhereIsNotRecreated()
{
    Fixture f;
    Peek(f.dir.dataPath()).exec(QStringLiteral("DELETE FROM classdef WHERE class_num = 1"));
    f.editor->name->setText(QStringLiteral("ghost"));
    QVERIFY(f.editor->control->moveNext());
    QCOMPARE(f.prompter.lastMessage(),
             QStringLiteral("This record no longer exists; the changes to it were not stored."));
    QCOMPARE(Peek(f.dir.dataPath())
                 .scalar(QStringLiteral("SELECT count(*) FROM classdef WHERE class_name = 'ghost'"))
                 .toInt(),
             0);
}

QTEST_MAIN(tst_DataControl)
#include "tst_datacontrol.moc"
