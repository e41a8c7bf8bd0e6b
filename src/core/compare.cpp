#include "core/compare.h"

#include "store/schema.h"
#include "store/textrules.h"

#include <QHash>

#include <array>

namespace tarn
{

using schema::RefKind;

namespace
{

QString fromFile(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

const QString kItemSum = QStringLiteral("item_sum");
const QString kSpecialSum = QStringLiteral("special_sum");

} // namespace

Result<RefNames> RefNames::read(RefStore &ref)
{
    RefNames names;
    const std::pair<RefKind, QList<RefEntry> *> lists[] = {{RefKind::Weapon, &names.weapons},
                                                           {RefKind::Grenade, &names.grenades},
                                                           {RefKind::Item, &names.items},
                                                           {RefKind::Special, &names.specials}};
    for (const auto &[kind, list] : lists) {
        const Result<QList<RefEntry>> rows = ref.all(kind);
        if (!rows)
            return rows.status();
        *list = *rows;
    }
    return names;
}

namespace
{

const QList<RefEntry> &rowsOf(const RefNames &names, RefKind kind)
{
    switch (kind) {
    case RefKind::Weapon:
        return names.weapons;
    case RefKind::Grenade:
        return names.grenades;
    case RefKind::Item:
        return names.items;
    case RefKind::Special:
        break;
    }
    return names.specials;
}

// The name of the row of that id, or an empty text.
QString nameOf(const QList<RefEntry> &rows, qint64 id)
{
    for (const RefEntry &row : rows)
        if (!row.id.isNull() && row.id.toLongLong() == id)
            return row.name;
    return {};
}

} // namespace

QString RefNames::slotName(RefKind kind, qint64 id) const
{
    const QString name = nameOf(rowsOf(*this, kind), id);
    // 0 is an empty slot.
    return name.isEmpty() && id != 0 ? QString::number(id) : name;
}

QString RefNames::flagNames(RefKind kind, qint64 sum) const
{
    QStringList set;
    for (int k = 0; k < 32; ++k) {
        if (!((quint64(sum) >> k) & 1))
            continue;
        const QString name = nameOf(rowsOf(*this, kind), qint64(1) << k);
        set << (name.isEmpty() ? schema::fieldLabel(schema::flagColumn(kind, k + 1)) : name);
    }
    return set.join(QStringLiteral(", "));
}

const QStringList &classFieldColumns()
{
    static const QStringList columns = [] {
        QStringList list;
        for (const ClassField &field : classFields({}))
            list << field.column;
        return list;
    }();
    return columns;
}

QList<ClassField> classFields(const classfile::ClassRecord &r)
{
    QList<ClassField> fields;
    auto add = [&fields](const QString &column, const QVariant &value,
                         std::optional<RefKind> ref = {}) {
        fields.append({column, schema::fieldLabel(column), value, ref});
    };
    add(QStringLiteral("class_name"), fromFile(r.name));
    add(QStringLiteral("model_name"), fromFile(r.model));
    add(QStringLiteral("skin_name1"), fromFile(r.skin1));
    add(QStringLiteral("skin_name2"), fromFile(r.skin2));
    add(QStringLiteral("decoyskin"), qint64(r.decoySkin));
    for (std::size_t k = 0; k < r.weapons.size(); ++k)
        add(schema::slotColumn(RefKind::Weapon, int(k) + 1), qint64(r.weapons[k]), RefKind::Weapon);
    for (std::size_t k = 0; k < r.grenades.size(); ++k)
        add(schema::slotColumn(RefKind::Grenade, int(k) + 1), qint64(r.grenades[k]),
            RefKind::Grenade);
    add(QStringLiteral("max_armor"), qint64(r.armor));
    add(QStringLiteral("max_speed"), qint64(r.speed));
    add(QStringLiteral("max_health"), qint64(r.health));
    const auto ammo = schema::ammoColumns();
    for (std::size_t k = 0; k < ammo.size(); ++k)
        add(QLatin1String(ammo[k].name), qint64(r.ammo[k]));
    fields.append({kItemSum, QStringLiteral("Items"), qint64(r.itemSum), RefKind::Item});
    fields.append(
        {kSpecialSum, QStringLiteral("Special Abilities"), qint64(r.specialSum), RefKind::Special});
    return fields;
}

namespace
{

QStringList flagColumns(RefKind kind)
{
    QStringList columns;
    for (int k = 1; k <= schema::flagCount(kind); ++k)
        columns << schema::flagColumn(kind, k);
    return columns;
}

} // namespace

const QStringList &storedFieldColumns()
{
    static const QStringList columns = QStringList{QStringLiteral("class_num")} +
                                       classFieldColumns() + flagColumns(RefKind::Item) +
                                       flagColumns(RefKind::Special);
    return columns;
}

Result<QList<QList<ClassField>>> readStoredClasses(AppState &state, const QString &configName,
                                                   const RefNames &names)
{
    const QString what =
        QStringLiteral("Could not read the configuration '%1'.").arg(shownText(configName));
    // Every field with its label, once: labels and positions cost more than a row.
    QList<ClassField> shape{{QStringLiteral("class_num"),
                             schema::fieldLabel(QStringLiteral("class_num")),
                             {},
                             std::nullopt}};
    shape += classFields({});
    for (const RefKind kind : {RefKind::Item, RefKind::Special})
        for (const QString &column : flagColumns(kind))
            shape.append({column, schema::fieldLabel(column), {}, std::nullopt});
    // What the table holds: every column but the sums, which are worked out.
    QStringList columns;
    QList<qsizetype> at; // each field's place in a row, -1 for the sums
    for (const ClassField &field : shape) {
        const bool sum = field.column == kItemSum || field.column == kSpecialSum;
        at << (sum ? -1 : columns.size());
        if (!sum)
            columns << field.column;
    }
    const qsizetype nameAt = columns.indexOf(QStringLiteral("class_name"));
    const auto flagsAt = [&columns](RefKind kind) {
        return columns.indexOf(schema::flagColumn(kind, 1));
    };
    const qsizetype itemsAt = flagsAt(RefKind::Item);
    const qsizetype specialsAt = flagsAt(RefKind::Special);

    const Result<QList<QVariantList>> rows = state.data().classRows(configName, columns, what);
    if (!rows)
        return rows.status();
    QList<QList<ClassField>> classes;
    classes.reserve(rows->size());
    for (const QVariantList &row : *rows) {
        // The sum of the boxes the class editor shows, as an export writes it.
        auto sumOf = [&](RefKind kind, qsizetype first,
                         const QList<RefEntry> &refRows) -> Result<qint32> {
            std::array<bool, kSpecialBoxes> flags{};
            for (qsizetype k = 0; k < flagBoxes(kind); ++k)
                flags[size_t(k)] = row.at(first + k).toLongLong() != 0;
            const Result<qint32> sum =
                flagSum(refRows, std::span<const bool>(flags.data(), size_t(flagBoxes(kind))));
            if (!sum)
                return Status::failure(
                    what + QStringLiteral("\nclass \"%1\": %2")
                               .arg(shownText(row.at(nameAt).toString()), sum.message()));
            return sum;
        };
        const Result<qint32> items = sumOf(RefKind::Item, itemsAt, names.items);
        if (!items)
            return items.status();
        const Result<qint32> specials = sumOf(RefKind::Special, specialsAt, names.specials);
        if (!specials)
            return specials.status();
        QList<ClassField> fields = shape;
        for (qsizetype f = 0; f < fields.size(); ++f) {
            ClassField &field = fields[f];
            field.value = at[f] >= 0                 ? row.at(at[f])
                          : field.column == kItemSum ? QVariant(qint64(*items))
                                                     : QVariant(qint64(*specials));
        }
        classes.append(fields);
    }
    return classes;
}

QString shownValue(const ClassField &field, const RefNames &names)
{
    if (!field.ref)
        return shownText(field.value.toString());
    const qint64 value = field.value.toLongLong();
    const RefKind kind = *field.ref;
    return shownText(kind == RefKind::Item || kind == RefKind::Special
                         ? names.flagNames(kind, value)
                         : names.slotName(kind, value));
}

Comparison compareClasses(const ClassRecords &a, const ClassRecords &b, const RefNames &names)
{
    // Each name's classes in B, in order; a match takes the first left.
    QHash<std::string, QList<std::size_t>> inB;
    for (std::size_t i = 0; i < b.size(); ++i)
        inB[b[i].name].append(i);
    std::vector<bool> matched(b.size(), false);
    Comparison result;
    for (const classfile::ClassRecord &left : a) {
        QList<std::size_t> &candidates = inB[left.name];
        if (candidates.isEmpty()) {
            result.onlyA << shownText(fromFile(left.name));
            continue;
        }
        const std::size_t j = candidates.takeFirst();
        matched[j] = true;
        const QList<ClassField> before = classFields(left);
        const QList<ClassField> after = classFields(b[j]);
        ClassChange change{shownText(fromFile(left.name)), {}};
        for (qsizetype f = 0; f < before.size(); ++f)
            if (before[f].value != after[f].value)
                change.fields.append(
                    {before[f].label, shownValue(before[f], names), shownValue(after[f], names)});
        if (!change.fields.isEmpty())
            result.changed.append(change);
    }
    for (std::size_t j = 0; j < b.size(); ++j)
        if (!matched[j])
            result.onlyB << shownText(fromFile(b[j].name));
    return result;
}

} // namespace tarn
