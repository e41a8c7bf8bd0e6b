// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/reference/refeditor.h"

#include "core/appstate.h"
#include "platform/datacontrol.h"
#include "ui/windowicon.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>

namespace tarn
{

namespace
{

schema::Kind kindOf(const schema::RefTable &table, const QString &column)
{
    for (const schema::Column &c : table.columns)
        if (column == QLatin1String(c.name))
            return c.kind;
    return schema::Kind::Text;
}

} // namespace

int twipsWide(const QWidget *widget, int twips)
{
    const int digits = (twips + 89) / 90;
    return digits * widget->fontMetrics().horizontalAdvance(QLatin1Char('0'));
}

void setFieldWidth(QLineEdit *edit, int twips)
{
    // QLineEdit's own hint is 17 x's plus its frame and margins.
    const int frame =
        edit->sizeHint().width() - 17 * edit->fontMetrics().horizontalAdvance(QLatin1Char('x'));
    edit->setFixedWidth(frame + twipsWide(edit, twips));
}

std::vector<EditorRow> RefEditor::weaponRows(const EditorNames &names)
{
    const schema::RefTable &t = schema::refTable(names.kind);
    const QString captions[] = {QLatin1String(names.idCaption), QLatin1String(names.nameCaption),
                                QStringLiteral("Damage:"), QStringLiteral("Speed:"),
                                QStringLiteral("Enabled? (1=yes):")};
    std::vector<EditorRow> rows;
    for (size_t i = 0; i < t.columns.size(); ++i)
        rows.push_back({QStringLiteral("Label%1").arg(i + 1), captions[i],
                        QStringLiteral("Text%1").arg(i + 1), QLatin1String(t.columns[i].name),
                        i == 1 ? 2175 : 495});
    return rows;
}

RefEditor::RefEditor(const EditorNames &names, const std::vector<EditorRow> &rows, AppState &state,
                     Prompter &prompter, QWidget *parent)
    : RecordDialog(parent), mState(state), mPrompter(prompter), mKind(names.kind)
{
    setObjectName(QLatin1String(names.window));
    setWindowTitle(QLatin1String(names.title));
    setWindowIcon(programIcon());

    const schema::RefTable &table = schema::refTable(mKind);
    auto *control = new DataControl(this);
    control->setObjectName(QLatin1String(names.control));
    control->setCaption(QLatin1String(names.caption));
    control->setPrompter(&prompter);
    control->setRecordSource(state.ref().database(), RecordSource::referenceRows(mKind));
    control->setMinimumWidth(twipsWide(control, 2415));
    setDataControl(control);

    mGrid = new QGridLayout(this);
    mGrid->setSizeConstraint(QLayout::SetFixedSize);
    auto *menuBar = new QMenuBar(this);
    mGrid->setMenuBar(menuBar);
    QWidget *previous = nullptr;
    for (const EditorRow &row : rows) {
        auto *label = new QLabel(row.caption, this);
        label->setObjectName(row.label);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto *edit = new QLineEdit(this);
        edit->setObjectName(row.field);
        setFieldWidth(edit, row.twips);
        label->setBuddy(edit);
        mGrid->addWidget(label, mNextRow, 0);
        if (row.note.isEmpty()) {
            mGrid->addWidget(edit, mNextRow, 1, 1, 2, Qt::AlignLeft);
        } else {
            auto *note = new QLabel(row.noteText, this);
            note->setObjectName(row.note);
            edit->setAccessibleDescription(row.noteText);
            mGrid->addWidget(edit, mNextRow, 1, Qt::AlignLeft);
            mGrid->addWidget(note, mNextRow, 2);
        }
        if (!row.column.isEmpty()) {
            QString name = row.caption;
            if (name.endsWith(QLatin1Char(':')))
                name.chop(1);
            control->bind(edit, row.column, kindOf(table, row.column), name);
        }
        if (previous)
            setTabOrder(previous, edit);
        previous = edit;
        ++mNextRow;
    }

    auto button = [this](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setMinimumWidth(twipsWide(b, 1215));
        return b;
    };
    QPushButton *command1 = button("Command1", QStringLiteral("Add Record"));
    QPushButton *command2 = button("Command2", QStringLiteral("Delete Record"));
    if (previous)
        setTabOrder(previous, command1);
    setTabOrder(command1, command2);
    connect(command1, &QPushButton::clicked, this, &RefEditor::Command1_Click);
    connect(command2, &QPushButton::clicked, this, &RefEditor::Command2_Click);

    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(0, 8, 0, 0);
    bar->addWidget(control, 0, Qt::AlignBottom);
    bar->addSpacing(8);
    bar->addWidget(command1);
    bar->addWidget(command2);
    bar->addStretch(1);
    mGrid->addLayout(bar, mNextRow++, 0, 1, -1);
    addEditMenu(menuBar);
}

QLineEdit *RefEditor::field(const QString &name) const
{
    return findChild<QLineEdit *>(name);
}

void RefEditor::Form_Load()
{
    dataControl()->refresh();
}

void RefEditor::Command1_Click()
{
    dataControl()->addNew();
}

void RefEditor::Command2_Click()
{
    dataControl()->deleteCurrent();
}

} // namespace tarn
