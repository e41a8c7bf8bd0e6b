// SPDX-License-Identifier: GPL-3.0-or-later
#include "commands.h"

#include "store/datastore.h"
#include "store/history.h"
#include "store/refstore.h"
#include "store/schema.h"
#include "store/textrules.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace tarn::cli
{

namespace
{

// A moment as TIME gives it: ISO 8601 (local time unless it names a zone), or
// the id of a change that history printed.
struct Moment {
    qint64 change = 0;
    QDateTime at;
};

std::optional<Moment> moment(const QString &text)
{
    static const QRegularExpression id(QStringLiteral("^#?([0-9]+)$"));
    if (const QRegularExpressionMatch m = id.match(text.trimmed()); m.hasMatch()) {
        bool ok = false;
        const qint64 change = m.captured(1).toLongLong(&ok);
        if (ok && change > 0)
            return Moment{change, {}};
        return std::nullopt;
    }
    QDateTime at = QDateTime::fromString(text.trimmed(), Qt::ISODateWithMs);
    if (!at.isValid())
        return std::nullopt;
    return Moment{0, at.toUTC()};
}

QString badTime(const QString &option, const QString &text)
{
    return QStringLiteral("%1 takes a time such as 2026-12-06T14:00 or a change's id, not '%2'")
        .arg(option, shownText(text));
}

QString utc(const QDateTime &at)
{
    return at.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QString kindName(Change::Kind kind)
{
    static const char *names[] = {"field",   "add-class",  "delete-class", "new",
                                  "copy",    "import",     "delete",       "restore",
                                  "add-row", "delete-row", "mod-id"};
    return QLatin1String(names[std::clamp(int(kind), 0, int(std::size(names)) - 1)]);
}

// A value as a person reads it: texts quoted, nothing as (empty).
QString shown(const QVariant &value)
{
    if (value.isNull())
        return QStringLiteral("(empty)");
    if (value.typeId() == QMetaType::QString)
        return u'\'' + shownText(value.toString()) + u'\'';
    if (value.typeId() == QMetaType::Double)
        return QString::number(value.toDouble(), 'g', 17);
    return value.toString();
}

QJsonValue jsonValue(const QVariant &value)
{
    if (value.isNull())
        return QJsonValue();
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    if (value.typeId() == QMetaType::Double)
        return value.toDouble();
    return value.toLongLong();
}

QString describe(const Change &c)
{
    const QString where =
        c.table == QLatin1String("classdef") || c.table.isEmpty()
            ? QStringLiteral("class %1 '%2'").arg(c.rowKey).arg(shownText(c.rowName))
            : QStringLiteral("%1 %2 '%3'").arg(c.table).arg(c.rowKey).arg(shownText(c.rowName));
    const QString package = u'\'' + shownText(c.package) + QStringLiteral("': ");
    switch (c.kind) {
    case Change::Field:
        return (c.package.isEmpty() ? QString() : package) + where + QStringLiteral(": ") +
               schema::fieldLabel(c.column) + u' ' + shown(c.before) + QStringLiteral(" -> ") +
               shown(c.after);
    case Change::AddClass:
    case Change::AddRow:
        return (c.package.isEmpty() ? QString() : package) + QStringLiteral("added ") + where;
    case Change::DeleteClass:
    case Change::DeleteRow:
        return (c.package.isEmpty() ? QString() : package) + QStringLiteral("deleted ") + where;
    case Change::NewPackage:
        return package + QStringLiteral("created");
    case Change::CopyPackage:
        return package + QStringLiteral("copied from '%1'").arg(shownText(c.detail));
    case Change::ImportPackage:
        return package + QStringLiteral("imported from %1").arg(shownText(c.detail));
    case Change::DeletePackage:
        return package + QStringLiteral("deleted");
    case Change::RestorePackage:
        return package + QStringLiteral("restored ") + shownText(c.detail);
    case Change::ModId:
        return QStringLiteral("Mod ID ") + shown(c.before) + QStringLiteral(" -> ") +
               shown(c.after);
    }
    return {};
}

QJsonObject json(const Change &c)
{
    QJsonObject o{{QStringLiteral("id"), c.id},
                  {QStringLiteral("at"), utc(c.at)},
                  {QStringLiteral("who"), c.who},
                  {QStringLiteral("program"), c.program},
                  {QStringLiteral("kind"), kindName(c.kind)}};
    if (!c.package.isEmpty())
        o.insert(QStringLiteral("configuration"), c.package);
    if (!c.table.isEmpty()) {
        o.insert(QStringLiteral("table"), c.table);
        o.insert(QStringLiteral("key"), c.rowKey);
        o.insert(QStringLiteral("name"), c.rowName);
    }
    if (c.kind == Change::Field || c.kind == Change::ModId) {
        if (!c.column.isEmpty())
            o.insert(QStringLiteral("field"), c.column);
        o.insert(QStringLiteral("before"), jsonValue(c.before));
        o.insert(QStringLiteral("after"), jsonValue(c.after));
    }
    if (!c.row.columns.isEmpty()) {
        QJsonObject row;
        for (qsizetype i = 0; i < c.row.columns.size(); ++i)
            row.insert(c.row.columns.at(i), jsonValue(c.row.values.value(i)));
        o.insert(QStringLiteral("row"), row);
    }
    if (!c.detail.isEmpty())
        o.insert(QStringLiteral("detail"), c.detail);
    return o;
}

// Once, where the database keeps none: the commands work, and nothing is kept.
bool keepsHistory(Context &c)
{
    const Result<bool> keeps = c.state->data().keepsHistory();
    if (keeps && *keeps)
        return true;
    c.fail(keeps ? QStringLiteral("%1 keeps no history; its owner adds it with 'tarn-cli "
                                  "--database URL upgrade'")
                       .arg(c.state->where())
                 : keeps.message());
    return false;
}

int pruneOrMeasure(Context &c)
{
    DataStore &data = c.state->data();
    RefStore &ref = c.state->ref();
    if (c.flags.contains(QStringLiteral("size"))) {
        const Result<HistorySize> size = data.historySize();
        if (!size)
            return c.fail(size.message());
        const Result<HistorySize> refSize = ref.historySize();
        if (!refSize)
            return c.fail(refSize.message());
        c.out << size->records + refSize->records << " records, " << size->bytes + refSize->bytes
              << " bytes\n";
        return Success;
    }
    const QString text = c.values.value(QStringLiteral("prune-before"));
    const std::optional<Moment> before = moment(text);
    if (!before)
        return c.usage(badTime(QStringLiteral("--prune-before"), text));
    const Result<qint64> removed =
        before->change ? data.pruneHistory(before->change) : data.pruneHistory(before->at);
    if (!removed)
        return c.fail(removed.message());
    // A file of reference tables numbers its records apart: only a time reaches them.
    Result<qint64> alsoRemoved = qint64(0);
    if (!before->change)
        alsoRemoved = ref.pruneHistory(before->at);
    if (!alsoRemoved)
        return c.fail(alsoRemoved.message());
    const qint64 all = *removed + *alsoRemoved;
    c.out << "Removed " << all << (all == 1 ? " record\n" : " records\n");
    return Success;
}

} // namespace

int cmdHistory(Context &c)
{
    const bool size = c.flags.contains(QStringLiteral("size"));
    const bool prune = c.values.contains(QStringLiteral("prune-before"));
    if (size || prune) {
        if (size && prune)
            return c.usage(QStringLiteral("history takes --size or --prune-before, not both"));
        if (!c.args.isEmpty() || c.values.size() > (prune ? 1 : 0))
            return c.usage(QStringLiteral("history --size and --prune-before take nothing more"));
        if (!keepsHistory(c))
            return c.failure;
        return pruneOrMeasure(c);
    }
    if (c.args.size() > 1)
        return c.usage(QStringLiteral("history takes at most one NAME"));
    const QString format = c.values.value(QStringLiteral("format"), QStringLiteral("text"));
    if (format != QLatin1String("text") && format != QLatin1String("json"))
        return c.usage(QStringLiteral("--format takes text or json, not '%1'").arg(format));
    HistoryFilter filter;
    DataStore &data = c.state->data();
    if (!c.args.isEmpty()) {
        // A configuration deleted since still has its history.
        const Result<QString> stored = data.storedPackageName(c.args.first());
        filter.package = stored ? *stored : c.args.first();
    }
    if (c.values.contains(QStringLiteral("class"))) {
        if (filter.package.isEmpty())
            return c.usage(QStringLiteral("--class needs a configuration NAME"));
        bool ok = false;
        const qint64 number = c.values.value(QStringLiteral("class")).toLongLong(&ok);
        if (!ok)
            return c.usage(QStringLiteral("--class takes a class number"));
        filter.classNum = number;
    }
    if (c.values.contains(QStringLiteral("since"))) {
        const QString text = c.values.value(QStringLiteral("since"));
        const std::optional<Moment> since = moment(text);
        if (!since)
            return c.usage(badTime(QStringLiteral("--since"), text));
        if (since->change)
            filter.sinceId = since->change;
        else
            filter.since = since->at;
    }
    if (!keepsHistory(c))
        return c.failure;
    // A file of reference tables keeps their records itself: they join the
    // data's by time (they are few).
    QList<Change> refChanges;
    if (Status s = c.state->ref().readHistory(filter,
                                              [&refChanges](const Change &change) {
                                                  refChanges << change;
                                                  return Status::success();
                                              });
        !s)
        return c.fail(s.message());
    const bool asJson = format == QLatin1String("json");
    bool first = true;
    if (asJson)
        c.out << '[';
    auto print = [&](const Change &change) {
        if (asJson) {
            c.out << (first ? "\n" : ",\n")
                  << QString::fromUtf8(QJsonDocument(json(change)).toJson(QJsonDocument::Compact));
        } else {
            c.out << '#' << change.id << "  " << utc(change.at) << "  " << shownText(change.who)
                  << "  " << shownText(change.program) << "  " << describe(change) << '\n';
        }
        first = false;
        return c.out.status() == QTextStream::Ok
                   ? Status::success()
                   : Status::failure(Fault::InputOutput, QStringLiteral("output cut short"));
    };
    qsizetype nextRef = 0;
    Status read = data.readHistory(filter, [&](const Change &change) {
        for (; nextRef < refChanges.size() && refChanges.at(nextRef).at > change.at; ++nextRef)
            if (Status s = print(refChanges.at(nextRef)); !s)
                return s;
        return print(change);
    });
    for (; read && nextRef < refChanges.size(); ++nextRef)
        read = print(refChanges.at(nextRef));
    if (asJson)
        c.out << (first ? "]\n" : "\n]\n");
    if (!read)
        return c.fail(read.message());
    return Success;
}

int cmdRestore(Context &c)
{
    if (c.args.size() != 1)
        return c.usage(QStringLiteral("restore takes one NAME"));
    if (!c.values.contains(QStringLiteral("as-of")))
        return c.usage(QStringLiteral("restore needs --as-of TIME"));
    const QString text = c.values.value(QStringLiteral("as-of"));
    const std::optional<Moment> when = moment(text);
    if (!when)
        return c.usage(badTime(QStringLiteral("--as-of"), text));
    if (c.values.contains(QStringLiteral("as")) && c.values.value(QStringLiteral("as")).isEmpty())
        return c.usage(QStringLiteral("--as needs a NEWNAME"));
    // A change's id: the state just after it.
    RestorePoint point;
    if (when->change)
        point.beforeChange = when->change + 1;
    else
        point.at = when->at;
    if (Status s = c.state->data().restorePackage(c.args.first(), point,
                                                  c.values.value(QStringLiteral("as")));
        !s)
        return c.fail(s.message());
    return Success;
}

int cmdDeleted(Context &c)
{
    if (!c.args.isEmpty())
        return c.usage(QStringLiteral("deleted takes no arguments"));
    if (!keepsHistory(c))
        return c.failure;
    const Result<QList<DeletedPackage>> deleted = c.state->data().deletedPackages();
    if (!deleted)
        return c.fail(deleted.message());
    for (const DeletedPackage &d : *deleted)
        c.out << shownText(d.name) << "\t#" << d.changeId << "  " << utc(d.at) << "  "
              << shownText(d.who) << "  " << d.classes
              << (d.classes == 1 ? " class\n" : " classes\n");
    return Success;
}

int cmdUpgrade(Context &c)
{
    if (!c.args.isEmpty())
        return c.usage(QStringLiteral("upgrade takes no arguments"));
    const Result<bool> added = c.state->data().ensureHistory();
    if (!added)
        return c.fail(added.message());
    c.out << (*added ? "Added the history to " : "Nothing to do: it keeps its history already: ")
          << c.state->where() << '\n';
    if (*added && c.state->data().keepsSettings())
        c.out << "The team role may now be granted: GRANT SELECT, INSERT ON history, "
                 "history_class TO tarn_team;\n";
    return Success;
}

} // namespace tarn::cli
