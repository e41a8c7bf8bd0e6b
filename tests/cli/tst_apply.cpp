// SPDX-License-Identifier: GPL-3.0-or-later
#include "clirun.h"
#include "core/sheet.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace tarn;
using namespace tarn::test;

namespace
{

// A cell of the sample's classes (1 Scout, 2 Soldier; 3 is new) as typed into
// the sheet, and as show's csv gives it back once applied.
struct Cell {
    int classNum;
    const char *column;
    QString typed;
    QString shown;
};

// How a spreadsheet saves the sheet.
struct Style {
    const char *format; // csv, json
    QByteArray separator, lineEnd;
    bool bom;
};
const Style kSemicolonBom{"csv", ";", "\r\n", true}, kLf{"csv", ",", "\n", false},
    kCrlf{"csv", ",", "\r\n", false}, kJson{"json", {}, {}, false};

struct Case {
    const char *name;
    Style style;
    QList<Cell> cells;
    ApplyOptions options;
    Fault fault;             // None: applied
    QStringList facts;       // in the refusal
    QStringList after;       // the class numbers stored afterwards
    QList<int> dropped{};    // rows taken out of the sheet
    bool staleSheet = false; // another client changes a class after show
};

const QString kWeird = QStringLiteral("Sol, \"dier\"\r\nTwo;");

QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> rows{{}};
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == '"' && quoted && text.mid(i + 1, 1) == "\"")
            field += text[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (quoted)
            field += c;
        else if (c == ',')
            rows.last() << std::exchange(field, QString());
        else if (c == '\n')
            rows.last() << std::exchange(field, QString()), rows << QStringList{};
        else if (c != '\r')
            field += c;
    }
    rows.removeLast();
    return rows;
}

QByteArray writeCsv(const QList<QStringList> &rows, const Case &c)
{
    QByteArray out = c.style.bom ? "\xEF\xBB\xBF" : "";
    for (const QStringList &row : rows) {
        QByteArrayList cells;
        for (const QString &cell : row) {
            QByteArray bytes = cell.toUtf8();
            if (bytes.contains(c.style.separator) || bytes.contains('"') || bytes.contains('\n'))
                bytes = '"' + bytes.replace("\"", "\"\"") + '"';
            cells << bytes;
        }
        out += cells.join(c.style.separator) + c.style.lineEnd;
    }
    return out;
}

// The sheet show wrote, edited as a spreadsheet would save it.
QByteArray edited(const QString &shown, const Case &c)
{
    if (QLatin1String(c.style.format) == "json") {
        QJsonArray classes = QJsonDocument::fromJson(shown.toUtf8()).array();
        for (const Cell &cell : c.cells) {
            const qsizetype at = cell.classNum - 1;
            QJsonObject object = at < classes.size() - 1 ? classes[at].toObject() : QJsonObject{};
            object[cell.column] = cell.typed;
            object["class_num"] = cell.classNum;
            if (at < classes.size() - 1)
                classes[at] = object;
            else
                classes.insert(at, object);
        }
        for (const int number : c.dropped)
            classes.removeAt(number - 1);
        return QJsonDocument(classes).toJson();
    }
    QList<QStringList> rows = parseCsv(shown);
    for (const Cell &cell : c.cells) {
        if (cell.classNum >= rows.size() - 1) {
            rows.insert(cell.classNum, QStringList(rows[0].size()));
            rows[cell.classNum][0] = QString::number(cell.classNum);
        }
        rows[cell.classNum][rows[0].indexOf(cell.column)] = cell.typed;
    }
    for (const int number : c.dropped)
        rows.removeAt(number);
    return writeCsv(rows, c);
}

} // namespace

class tst_Apply : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        const ApplyOptions plain, dryRun{true}, force{false, true}, deleting{false, false, true};
        const QList<Cell> names{{2, "class_name", kWeird, kWeird},
                                {2, "w4", "rail lance", "5"},
                                {3, "class_name", "Medic", "Medic"},
                                {3, "item_sum", "Jetpack", "1"}};
        const QList<Cell> speed{{1, "max_speed", "450", "450"}, {2, "w4", "7", "7"}};
        const QList<Cell> scout{speed.first()};
        const QList<Cell> flags{{1, "i1", "0", "0"}, {1, "i2", "1", "1"}};
        const QList<Cell> badSpeed{{1, "max_health", "90", ""}, {2, "max_speed", "fast", ""}};
        const QList<Cell> badSum{{1, "i2", "1", ""}, {1, "item_sum", "4", ""}};
        const QStringList kept{"1", "2"}, three{"1", "2", "3"};
        const Fault ok = Fault::None, refused = Fault::Refused;
        addRows<Case>({
            {"csv ; BOM CRLF", kSemicolonBom, names, plain, ok, {}, three},
            {"csv , LF", kLf, speed, plain, ok, {}, kept},
            {"json", kJson, names, plain, ok, {}, three},
            {"flag column beside its sum", kCrlf, flags, plain, ok, {}, kept},
            {"missing row stays", kCrlf, scout, plain, ok, {}, kept, {2}},
            {"missing row deleted", kCrlf, scout, deleting, ok, {}, {"1"}, {2}},
            {"bad cell",
             kSemicolonBom,
             badSpeed,
             plain,
             refused,
             {"sheet:3:", "Max Speed", "'fast'"},
             kept},
            {"unknown weapon",
             kJson,
             {{1, "w2", "Banana", ""}},
             plain,
             refused,
             {"sheet:2:", "Weapon slot 2", "Banana"},
             kept},
            {"sum against its columns", kCrlf, badSum, plain, refused, {"sheet:2:", "Items"}, kept},
            {"stale sheet", kCrlf, speed, plain, refused, {"--force"}, kept, {}, true},
            {"stale sheet forced", kCrlf, speed, force, ok, {}, kept, {}, true},
            {"dry run", kCrlf, speed, dryRun, ok, {}, kept},
        });
    }

    void roundTrip()
    {
        QFETCH(Case, row);
        DataDir dir;
        const QString config = "Sample Config";
        const CliRun shown = runCli(dir.location(), {"show", "--format", row.style.format, config});
        QCOMPARE(shown.code, 0);
        const QString sheet = dir.file("sheet");
        writeFile(sheet, edited(shown.out, row));
        const Peek peek(dir.dataPath());
        if (row.staleSheet)
            peek.exec("UPDATE classdef SET max_armor = 7 WHERE class_num = 2");
        const CliRun before = runCli(dir.location(), {"show", "--format", "csv", config});

        const Result<Sheet> read = readSheet(sheet);
        QVERIFY2(read, qPrintable(read.message()));
        const Result<RefNames> names = RefNames::read(dir.start().ref());
        QVERIFY(names);
        QStringList printed;
        const Status applied = applySheet(dir.state(), config, *read, *names, row.options,
                                          {[&](const QString &name) { printed << "A " + name; },
                                           [&](const QString &name) { printed << "B " + name; },
                                           [&](const ClassChange &change) {
                                               printed << "changed " + change.name;
                                           }});
        QCOMPARE(applied.fault(), row.fault);
        for (const QString &fact : row.facts)
            QVERIFY2(applied.message().contains(fact), qPrintable(applied.message()));
        QCOMPARE(peek.joined("SELECT class_num FROM classdef ORDER BY class_num"),
                 row.after.join(','));

        const CliRun after = runCli(dir.location(), {"show", "--format", "csv", config});
        if (row.fault != Fault::None || row.options.dryRun) {
            QCOMPARE(after.out, before.out); // nothing stored
            QVERIFY(row.options.dryRun == !printed.isEmpty());
            return;
        }
        const QList<QStringList> rows = parseCsv(after.out);
        for (const Cell &cell : row.cells) {
            const auto stored = std::find_if(rows.begin(), rows.end(), [&](const QStringList &r) {
                return r[0] == QString::number(cell.classNum);
            });
            QVERIFY(stored != rows.end());
            QCOMPARE((*stored)[rows[0].indexOf(cell.column)], cell.shown);
        }
        // The sheet shown again applies as nothing.
        writeFile(sheet, after.out.toUtf8());
        const CliRun again = runCli(dir.location(), {"apply", config, sheet});
        QVERIFY(ranAs(again, 0));
        QCOMPARE(again.out, QString());
    }
};

QTEST_GUILESS_MAIN(tst_Apply)
#include "tst_apply.moc"
