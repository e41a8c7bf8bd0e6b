// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/config/frmcompare.h"

#include "core/appstate.h"
#include "core/compare.h"
#include "platform/prompter.h"
#include "store/textrules.h"
#include "ui/windowicon.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

namespace tarn
{

namespace
{

enum Column { ClassColumn, FieldColumn, AColumn, BColumn };

// The widest a name shows in a list, and a column of the table, in pixels;
// the whole text is in its tooltip. A long name must not push the window off
// a small screen, nor the values out of the table.
constexpr int kShownWidth = 320;
constexpr int kColumnWidth = 200;

QString tooltipOf(const QString &shown, const QString &whole)
{
    return shown == whole ? QString() : Qt::convertFromPlainText(whole);
}

} // namespace

frmCompare::frmCompare(AppState &state, Prompter &prompter, const QStringList &names,
                       const QString &selected, QWidget *parent)
    : QDialog(parent), mState(state), mPrompter(prompter)
{
    setObjectName(QStringLiteral("frmCompare"));
    setWindowTitle(QStringLiteral("Compare Configurations"));
    setWindowIcon(programIcon());

    auto combo = [this, &names](const char *name, const QString &accessible) {
        auto *box = new QComboBox(this);
        box->setObjectName(QLatin1String(name));
        box->setAccessibleName(accessible);
        // A name may hold control characters; the stored name rides along.
        for (const QString &n : names) {
            const QString whole = shownText(n);
            const QString shown = box->fontMetrics().elidedText(whole, Qt::ElideRight, kShownWidth);
            box->addItem(shown, n);
            box->setItemData(box->count() - 1, tooltipOf(shown, whole), Qt::ToolTipRole);
        }
        box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        connect(box, &QComboBox::currentIndexChanged, box,
                [box] { box->setToolTip(box->currentData(Qt::ToolTipRole).toString()); });
        box->setToolTip(box->currentData(Qt::ToolTipRole).toString());
        return box;
    };
    mA = combo("cboA", QStringLiteral("Configuration A"));
    mB = combo("cboB", QStringLiteral("Configuration B"));
    const int a = std::max(0, int(names.indexOf(selected)));
    mA->setCurrentIndex(a);
    mB->setCurrentIndex(names.size() > 1 ? (a == 0 ? 1 : 0) : 0);

    auto label = [this](const char *name, const QString &text, QWidget *buddy) {
        auto *l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setBuddy(buddy);
        return l;
    };
    QLabel *lblA = label("lblA", QStringLiteral("Configuration &A:"), mA);
    QLabel *lblB = label("lblB", QStringLiteral("Configuration &B:"), mB);

    mTable = new QTableWidget(0, 4, this);
    mTable->setObjectName(QStringLiteral("tblDifferences"));
    mTable->setAccessibleName(QStringLiteral("Differences"));
    mTable->setHorizontalHeaderLabels({QStringLiteral("Class"), QStringLiteral("Field"),
                                       QStringLiteral("A"), QStringLiteral("B")});
    mTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    mTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    mTable->setTabKeyNavigation(false);
    mTable->verticalHeader()->hide();
    // The last column fills the rest and is never sized to its contents: that
    // ended its stretch from the second comparison on, the header stopping
    // short of the table's edge.
    mTable->horizontalHeader()->setSectionResizeMode(BColumn, QHeaderView::Stretch);
    mTable->horizontalHeader()->setAccessibleName(QStringLiteral("Columns"));
    mTable->setMinimumSize(640, 260);
    QLabel *lblDifferences = label("lblDifferences", QStringLiteral("&Differences:"), mTable);

    mSummary = new QLabel(this);
    mSummary->setObjectName(QStringLiteral("lblSummary"));
    mSummary->setTextFormat(Qt::PlainText);
    mSummary->setWordWrap(true);
    // No accessible name of its own: a label's name is what a screen reader
    // reads, and here that is the outcome itself.

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("btClose"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QGridLayout(this);
    layout->addWidget(lblA, 0, 0);
    layout->addWidget(mA, 0, 1);
    layout->addWidget(lblB, 1, 0);
    layout->addWidget(mB, 1, 1);
    layout->addWidget(mSummary, 2, 0, 1, 3);
    layout->addWidget(lblDifferences, 3, 0, 1, 3);
    layout->addWidget(mTable, 4, 0, 1, 3);
    layout->addWidget(buttons, 5, 0, 1, 3);
    layout->setColumnStretch(2, 1);
    layout->setRowStretch(4, 1);

    connect(mA, &QComboBox::currentIndexChanged, this, &frmCompare::compare);
    connect(mB, &QComboBox::currentIndexChanged, this, &frmCompare::compare);
    compare();
}

void frmCompare::clear(const QString &summary)
{
    mTable->setRowCount(0);
    mSummary->setText(summary);
}

void frmCompare::compare()
{
    const QString a = mA->currentData().toString();
    const QString b = mB->currentData().toString();
    Result<Comparison> compared = Status::success();
    {
        BusyCursor busy(mPrompter);
        const Result<RefNames> names = RefNames::read(mState.ref());
        compared = names ? compareClasses(configurationSource(mState, a, *names),
                                          configurationSource(mState, b, *names), *names)
                         : Result<Comparison>(names.status());
    }
    if (!compared) {
        clear(QStringLiteral("The configurations could not be compared."));
        mPrompter.message(compared.message(), Prompter::Buttons::Ok, Prompter::Icon::Warning);
        return;
    }
    const Comparison &comparison = *compared;
    QList<QStringList> rows;
    for (const QString &name : comparison.onlyA)
        rows.append({name, QStringLiteral("(only in A)"), QString(), QString()});
    for (const QString &name : comparison.onlyB)
        rows.append({name, QStringLiteral("(only in B)"), QString(), QString()});
    for (const ClassChange &change : comparison.changed)
        for (const FieldDifference &field : change.fields)
            rows.append({change.name, field.label, field.before, field.after});
    // Sized once: a row inserted at a time costs a model signal each.
    clear(QString());
    mTable->setRowCount(int(rows.size()));
    const QFontMetrics metrics = mTable->fontMetrics();
    for (int row = 0; row < rows.size(); ++row)
        for (int column = 0; column < rows[row].size(); ++column) {
            const QString &text = rows[row][column];
            auto *item = new QTableWidgetItem(text);
            // The view cuts a long text short; the tooltip has it whole.
            if (metrics.horizontalAdvance(text) > kColumnWidth)
                item->setToolTip(Qt::convertFromPlainText(text));
            mTable->setItem(row, column, item);
        }
    for (int column = ClassColumn; column < BColumn; ++column) {
        mTable->resizeColumnToContents(column);
        mTable->setColumnWidth(column, std::min(mTable->columnWidth(column), kColumnWidth));
    }

    // One pass of arg(): a '%1' in a name stays as it is.
    if (comparison.equal()) {
        mSummary->setText(
            QStringLiteral("'%1' and '%2' are equal: the same classes with the same values.")
                .arg(mA->currentText(), mB->currentText()));
        return;
    }
    mSummary->setText(
        QStringLiteral("'%1' and '%2' differ. Classes only in A: %3; only in B: %4; changed: %5.")
            .arg(mA->currentText(), mB->currentText(), QString::number(comparison.onlyA.size()),
                 QString::number(comparison.onlyB.size()),
                 QString::number(comparison.changed.size())));
}

} // namespace tarn
