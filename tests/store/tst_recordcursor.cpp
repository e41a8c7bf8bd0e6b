// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/appstate.h"
#include "store/recordcursor.h"
#include "testsupport.h"

#include <QTest>

using namespace tarn;
using namespace tarn::test;

namespace
{

QStringList loaded(RecordCursor &cursor, const QString &column)
{
    QStringList values;
    for (RecordCursor::Key key : cursor.keys()) {
        const Result<std::optional<QVariantList>> row = cursor.load(key, {column});
        values << (row && *row ? (**row).first().toString() : QStringLiteral("?"));
    }
    return values;
}

} // namespace

class tst_RecordCursor : public QObject
{
    Q_OBJECT

private slots:
    void walksStoresInsertsAndDeletesByKey()
    {
        DataDir dir;
        Peek peek(dir.dataPath()), ref(dir.refPath());
        peek.exec("DELETE FROM classdef");
        for (const char *row :
             {"('It''s', 3, 'c')", "('IT''S', 1, 'a')", "('Other', 2, 'x')", "('it''s', 3, 'd')"})
            peek.exec(QStringLiteral("INSERT INTO classdef (package_name, class_num, class_name) "
                                     "VALUES %1")
                          .arg(QLatin1String(row)));
        peek.exec("INSERT INTO package (package_name) VALUES ('P'), ('It''s')");
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

        peek.exec("DELETE FROM classdef");
        RecordCursor cursor(state.data().database(), RecordSource::classesOf("P"));
        const QStringList columns{"package_name", "class_num", "class_name", "max_speed"};
        const Result<RecordCursor::Key> first = cursor.insert(columns, {"P", 2, "b", 10});
        const Result<RecordCursor::Key> second = cursor.insert(columns, {"p", 1, "a", 20});
        QVERIFY(first && second);
        QCOMPARE(cursor.keys(), QList<RecordCursor::Key>({*second, *first}));
        // Only the columns named change; the row keeps its key when its order column changes.
        QCOMPARE(cursor
                     .store(*first, {{"class_num", "class_name"}, {0, "b'"}},
                            {{"class_num", "class_name", "max_speed"}, {2, "b", 10}})
                     ->kind,
                 WriteOutcome::Done);
        QCOMPARE(peek.scalar("SELECT max_speed FROM classdef WHERE class_name = 'b'''").toInt(),
                 10);
        QVERIFY(cursor.reload());
        QCOMPARE(cursor.keys(), QList<RecordCursor::Key>({*first, *second}));
        // A row deleted elsewhere is not brought back.
        peek.exec("DELETE FROM classdef WHERE class_num = 1");
        QCOMPARE(cursor.store(*second, {{"class_name"}, {"ghost"}}, {})->kind, WriteOutcome::Gone);
        QVERIFY(!cursor.load(*second, {"class_name"}).value().has_value());
        QCOMPARE(cursor.remove(*first)->kind, WriteOutcome::Done);
        QVERIFY(cursor.keys().isEmpty());
        QCOMPARE(peek.count("classdef"), 0);
        // No class is stored for a configuration that another client deleted.
        peek.exec("DELETE FROM package WHERE package_name = 'P'");
        const Result<RecordCursor::Key> orphan = cursor.insert(columns, {"P", 3, "c", 0});
        QVERIFY(orphan.fault() == Fault::NotFound && orphan.message().contains("P"));
        QCOMPARE(peek.count("classdef"), 0);
        // Failures come back as values naming what went wrong.
        peek.exec("INSERT INTO package VALUES ('p')");
        peek.refuseInserts("classdef", "disk full");
        QVERIFY(cursor.insert(columns, {"P", 3, "c", 0}).message().contains("disk full"));
    }

    // A row shown as (name "Scout", speed 300, health NULL); another client then
    // changes it (SET ...) or deletes it, and the window stores its edit of the speed
    // or deletes the row.
    void writeChecksTheRowAsShown_data()
    {
        QTest::addColumn<bool>("remove");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("change"); // column: shown -> stored
        const int done = WriteOutcome::Done, changed = WriteOutcome::Changed;
        for (bool remove : {false, true}) {
            const auto row = [remove](const char *name, const char *sql, int kind,
                                      const char *change = "") {
                QTest::addRow("%s, %s", remove ? "remove" : "store", name)
                    << remove << QString::fromLatin1(sql) << kind << QString(change);
            };
            row("untouched", "", done);
            row("a column the edit leaves", "max_health = 5", changed, "max_health:  -> 5");
            row("the edited column", "max_speed = 320", changed, "max_speed: 300 -> 320");
            row("a name in another case", "class_name = 'scout'", changed,
                "class_name: Scout -> scout");
            row("empty text is not NULL", "max_health = ''", changed, "max_health:  -> ");
            row("a column that is not shown", "max_armor = 9", done);
            row("the same value written back", "max_speed = 300.0", done);
            row("deleted", "DELETE", WriteOutcome::Gone);
        }
    }

    void writeChecksTheRowAsShown()
    {
        QFETCH(bool, remove);
        QFETCH(QString, meanwhile);
        QFETCH(int, outcome);
        QFETCH(QString, change);
        if (onTestServer() && meanwhile.contains("max_health = ''"))
            QSKIP("a server's whole-number column holds no text");
        DataDir dir;
        Peek peek(dir.dataPath());
        peek.exec("DELETE FROM classdef");
        peek.exec(
            "INSERT INTO classdef (package_name, class_num, class_name, max_speed, max_health, "
            "max_armor, model_name) VALUES ('Sample Config', 1, 'Scout', 300, NULL, 7, NULL)");
        RecordCursor cursor(dir.start().data().database(),
                            RecordSource::classesOf("Sample Config"));
        QVERIFY(cursor.reload());
        const RecordCursor::Key key = cursor.keys().first();
        const RowValues shown{{"class_name", "max_speed", "max_health"},
                              {"Scout", 300, QVariant()}};
        if (!meanwhile.isEmpty())
            peek.exec(meanwhile == "DELETE" ? "DELETE FROM classdef"
                                            : "UPDATE classdef SET " + meanwhile);
        const QList<QVariantMap> before = peek.rows("SELECT * FROM classdef");

        const RowValues edit{{"max_speed"}, {310}};
        const Result<WriteOutcome> written =
            remove ? cursor.remove(key, shown) : cursor.store(key, edit, shown);
        QVERIFY2(written, qPrintable(written.message()));
        QCOMPARE(int(written->kind), outcome);
        QStringList found;
        for (const FieldChange &c : written->changes)
            found << QStringLiteral("%1: %2 -> %3")
                         .arg(c.column, c.shown.toString(), c.stored.toString());
        QCOMPARE(found.join(", "), change);
        if (outcome == WriteOutcome::Done && remove) {
            // Every column comes back, value for value and NULL for NULL.
            QCOMPARE(written->row.columns.size(), 69);
            QCOMPARE(peek.count("classdef"), 0);
            QVERIFY(cursor.insert(written->row));
            QCOMPARE(peek.count("classdef WHERE model_name IS NULL"), 1);
        } else if (outcome == WriteOutcome::Done) {
            QCOMPARE(peek.scalar("SELECT max_speed FROM classdef").toInt(), 310);
        }
        if (outcome != WriteOutcome::Done || remove)
            QCOMPARE(peek.rows("SELECT * FROM classdef"), before); // nothing written, or restored
        if (outcome != WriteOutcome::Changed)
            return;
        // Done again over what is stored now.
        QCOMPARE(written->row.columns, shown.columns);
        const Result<WriteOutcome> over =
            remove ? cursor.remove(key, written->row) : cursor.store(key, edit, written->row);
        QCOMPARE(over->kind, WriteOutcome::Done);
    }
};

QTEST_MAIN(tst_RecordCursor)
#include "tst_recordcursor.moc"
