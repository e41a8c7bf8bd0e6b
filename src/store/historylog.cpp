// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/historylog.h"

#include "store/database.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>

namespace tarn
{

namespace
{

QString &program()
{
    static QString name = QStringLiteral("tarn");
    return name;
}

} // namespace

void setChangeProgram(const QString &name)
{
    program() = name;
}

const QString &changeProgram()
{
    return program();
}

namespace historylog
{

bool kept(Database &db)
{
    // For the benchmarks' side without records: the same build, nothing kept.
    if (qEnvironmentVariableIsSet("TARN_TEST_NO_HISTORY"))
        return false;
    const Result<bool> keeps = db.keepsHistory();
    return keeps && *keeps;
}

QVariant tagged(const QVariant &value)
{
    if (value.isNull() || !value.isValid())
        return {};
    switch (value.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::Bool:
        return QString(u'i' + QString::number(value.toLongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return QString(u'r' + QString::number(value.toDouble(), 'g', 17));
    default:
        return QString(u't' + value.toString());
    }
}

QVariant untagged(const QVariant &value)
{
    if (value.isNull())
        return {};
    const QString text = value.toString();
    const QString rest = text.mid(1);
    bool ok = false;
    switch (text.isEmpty() ? u't' : text.at(0).unicode()) {
    case u'i':
        if (const qlonglong n = rest.toLongLong(&ok); ok)
            return n;
        break;
    case u'n':
        if (const qlonglong n = rest.toLongLong(&ok); ok)
            return n;
        [[fallthrough]];
    case u'r':
        if (const double d = rest.toDouble(&ok); ok)
            return d;
        break;
    default:
        break;
    }
    return rest;
}

QString rowText(const RowValues &row)
{
    QJsonArray pairs;
    for (qsizetype i = 0; i < row.columns.size(); ++i) {
        const QVariant value = tagged(row.values.value(i));
        pairs.append(QJsonArray{row.columns.at(i),
                                value.isNull() ? QJsonValue() : QJsonValue(value.toString())});
    }
    return QString::fromUtf8(QJsonDocument(pairs).toJson(QJsonDocument::Compact));
}

RowValues rowFromText(const QString &text)
{
    RowValues row;
    const QJsonArray pairs = QJsonDocument::fromJson(text.toUtf8()).array();
    for (const QJsonValue &pair : pairs) {
        const QJsonArray p = pair.toArray();
        row.columns << p.at(0).toString();
        row.values << (p.at(1).isNull() ? QVariant() : untagged(p.at(1).toString()));
    }
    return row;
}

qint64 newKeep()
{
    // Known before the record is sent: no round trip for its key. Positive,
    // and never equal to another mark in practice.
    return qint64(QRandomGenerator::system()->generate64() >> 2) + 1;
}

QStringList recordColumns(Database &db, QVariantList &values)
{
    QStringList columns;
    if (const QString who = db.engine().author(); !who.isEmpty()) {
        columns << QStringLiteral("who");
        values << who;
    }
    columns << QStringLiteral("program");
    values << changeProgram();
    return columns;
}

Statement recordStatement(Database &db, const QList<Change> &changes, qint64 keep,
                          const QString &before)
{
    QVariantList first;
    const QStringList fixed = recordColumns(db, first);
    const QStringList columns =
        fixed + QStringList{QStringLiteral("kind"),       QStringLiteral("package_name"),
                            QStringLiteral("table_name"), QStringLiteral("row_key"),
                            QStringLiteral("row_name"),   QStringLiteral("field"),
                            QStringLiteral("old_value"),  QStringLiteral("new_value"),
                            QStringLiteral("row_values"), QStringLiteral("detail"),
                            QStringLiteral("kept")};
    QStringList rows;
    QVariantList values;
    QStringList marks;
    for (const QString &column : columns)
        marks << (column == QLatin1String("old_value") && !before.isEmpty() ? before
                                                                            : QStringLiteral("?"));
    for (const Change &c : changes) {
        rows << QLatin1Char('(') + marks.join(QStringLiteral(", ")) + QLatin1Char(')');
        values << first;
        values << qlonglong(c.kind) << (c.package.isNull() ? QVariant() : QVariant(c.package))
               << (c.table.isEmpty() ? QVariant() : QVariant(c.table))
               << (c.rowKey || !c.table.isEmpty() ? QVariant(qlonglong(c.rowKey)) : QVariant())
               << (c.rowName.isNull() ? QVariant() : QVariant(c.rowName))
               << (c.column.isEmpty() ? QVariant() : QVariant(c.column));
        if (before.isEmpty())
            values << tagged(c.before);
        values << tagged(c.after)
               << (c.row.columns.isEmpty() ? QVariant() : QVariant(rowText(c.row)))
               << (c.detail.isEmpty() ? QVariant() : QVariant(c.detail))
               << (keep ? QVariant(keep) : QVariant());
    }
    return {QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                .arg(QLatin1String(schema::kHistoryTable), schema::joined(columns),
                     rows.join(QStringLiteral(", "))),
            values};
}

Status record(Database &db, const QList<Change> &changes, const QString &what, qint64 keep,
              const QString &before)
{
    if (changes.isEmpty())
        return Status::success();
    const Statement insert = recordStatement(db, changes, keep, before);
    return db.execLater(insert.sql, insert.values, what);
}

Status recordWith(Database &db, const QList<Change> &changes, const Statement &statement,
                  const QString &what)
{
    if (changes.isEmpty())
        return db.execLater(statement.sql, statement.values, what);
    const Statement insert = recordStatement(db, changes, 0, {});
    // Where the engine takes both as one statement, one is parsed and run.
    if (const QString both = db.engine().recordedWith(insert.sql, statement.sql); !both.isEmpty())
        return db.execLater(both, insert.values + statement.values, what);
    if (Status s = db.execLater(insert.sql, insert.values, what); !s)
        return s;
    return db.execLater(statement.sql, statement.values, what);
}

schema::Kind columnKind(const QString &table, const QString &column)
{
    // Asked for every column a write-back compares: looked up, not searched.
    static const QHash<QString, schema::Kind> kinds = [] {
        QHash<QString, schema::Kind> all;
        for (const schema::Column &c : schema::classdefColumns())
            all.insert(QStringLiteral("classdef.") + QLatin1String(c.name), c.kind);
        for (const schema::RefKind kind : schema::refKinds()) {
            const schema::RefTable &t = schema::refTable(kind);
            for (const schema::Column &c : t.columns)
                all.insert(QLatin1String(t.table) + QLatin1Char('.') + QLatin1String(c.name),
                           c.kind);
        }
        return all;
    }();
    return kinds.value(table + QLatin1Char('.') + column, schema::Kind::Text);
}

Status recordRow(Database &db, Change::Kind kind, qint64 rowid, const QString &field,
                 const QVariant &after, qint64 keep, const QString &what)
{
    QVariantList values;
    const QStringList fixed = recordColumns(db, values);
    QStringList picks;
    for (qsizetype i = 0; i < fixed.size(); ++i)
        picks << QStringLiteral("?");
    values << qlonglong(kind) << (field.isEmpty() ? QVariant() : QVariant(field)) << tagged(after)
           << (keep ? QVariant(keep) : QVariant()) << rowid;
    const QString old =
        field.isEmpty()
            ? QStringLiteral("NULL")
            : db.engine().taggedValue(field, columnKind(QStringLiteral("classdef"), field));
    return db.execLater(
        QStringLiteral("INSERT INTO %1 (%2, kind, package_name, table_name, row_key, row_name, "
                       "field, old_value, new_value, kept) SELECT %3, ?, package_name, "
                       "'classdef', class_num, class_name, ?, %4, ?, ? FROM classdef "
                       "WHERE rowid = ?")
            .arg(QLatin1String(schema::kHistoryTable), schema::joined(fixed), picks.join(u','),
                 old),
        values, what);
}

Status keepClasses(Database &db, qint64 keep, const QString &where, const QVariantList &values,
                   const QString &what)
{
    const QString columns = schema::joined(schema::classdefColumnNames());
    return db.execLater(QStringLiteral("INSERT INTO %1 (kept, %2) SELECT ?, %2 FROM classdef "
                                       "WHERE %3 ORDER BY rowid")
                            .arg(QLatin1String(schema::kKeptTable), columns, where),
                        QVariantList{keep} + values, what);
}

} // namespace historylog
} // namespace tarn
