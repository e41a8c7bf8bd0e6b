#include "core/appstate.h"
#include "store/recordcursor.h"
#include "testsupport.h"

#include <QTest>

using namespace tarn;
using namespace tarn::test;

class tst_RecordCursor : public QObject
{
    Q_OBJECT

private slots:
    void walksItsSourceInOrder();
    void storesInsertsAndDeletesByKey();
};

namespace
{

QStringList loaded(const RecordCursor &cursor, const QString &column)
{
    QStringList values;
    for (RecordCursor::Key key : cursor.keys()) {
        const Result<std::optional<QVariantList>> row = cursor.load(key, {column});
        values << (row && *row ? (**row).first().toString() : QStringLiteral("?"));
    }
    return values;
}

} // namespace

void tst_RecordCursor::walksItsSourceInOrder()
{
    DataDir dir;
    Peek peek(dir.dataPath());
    peek.exec("DELETE FROM classdef");
    for (const char *row :
         {"('It''s', 3, 'c')", "('IT''S', 1, 'a')", "('Other', 2, 'x')", "('it''s', 3, 'd')"})
        peek.exec(QStringLiteral("INSERT INTO classdef (package_name, class_num, class_name) "
                                 "VALUES %1")
                      .arg(QLatin1String(row)));
    Peek ref(dir.refPath());
    ref.exec("DELETE FROM weapon");
    for (int id : {5, -1, 300})
        ref.exec("INSERT INTO weapon (w_id, w_name) VALUES (?, 'w')", {id});
    AppState &state = dir.start();
    // Names match without regard to case; equal numbers keep the order they were added in.
    RecordCursor classes(state.data().database(), RecordSource::classesOf("it's"));
    QVERIFY(classes.reload());
    QCOMPARE(loaded(classes, "class_name"), QStringList({"a", "c", "d"}));

    RecordCursor weapons(state.ref().database(),
                         RecordSource::referenceRows(schema::RefKind::Weapon));
    QVERIFY(weapons.reload());
    QCOMPARE(loaded(weapons, "w_id"), QStringList({"-1", "5", "300"}));
}

void tst_RecordCursor::storesInsertsAndDeletesByKey()
{
    DataDir dir;
    Peek peek(dir.dataPath());
    peek.exec("DELETE FROM classdef");
    RecordCursor cursor(dir.start().data().database(), RecordSource::classesOf("P"));
    const QStringList columns{"package_name", "class_num", "class_name", "max_speed"};
    const Result<RecordCursor::Key> first = cursor.insert(columns, {"P", 2, "b", 10});
    const Result<RecordCursor::Key> second = cursor.insert(columns, {"p", 1, "a", 20});
    QVERIFY(first && second);
    QCOMPARE(cursor.keys(), QList<RecordCursor::Key>({*second, *first}));

    // Only the columns named change; the row keeps its key when its order column changes.
    QCOMPARE(cursor.store(*first, {"class_num", "class_name"}, {0, "b'"}).value(), true);
    QCOMPARE(peek.scalar("SELECT max_speed FROM classdef WHERE class_name = 'b'''").toInt(), 10);
    QVERIFY(cursor.reload());
    QCOMPARE(cursor.keys(), QList<RecordCursor::Key>({*first, *second}));

    // A row deleted elsewhere is not brought back.
    peek.exec("DELETE FROM classdef WHERE class_num = 1");
    QCOMPARE(cursor.store(*second, {"class_name"}, {"ghost"}).value(), false);
    QVERIFY(!cursor.load(*second, {"class_name"}).value().has_value());
    QCOMPARE(peek.count("classdef"), 1);

    QVERIFY(cursor.remove(*first));
    QVERIFY(cursor.keys().isEmpty());
    QCOMPARE(peek.count("classdef"), 0);

    // Failures come back as values naming what went wrong.
    peek.exec("CREATE TRIGGER refuse BEFORE INSERT ON classdef "
              "BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    const Result<RecordCursor::Key> refused = cursor.insert(columns, {"P", 3, "c", 0});
    QVERIFY(!refused);
    QVERIFY(refused.message().contains("disk full"));
}

QTEST_MAIN(tst_RecordCursor)
#include "tst_recordcursor.moc"
