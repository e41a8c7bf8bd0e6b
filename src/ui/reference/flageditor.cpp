// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/reference/flageditor.h"

#include "classfile/classrecord.h"
#include "core/appstate.h"
#include "platform/datacontrol.h"
#include "platform/prompter.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>
#include <limits>

namespace tarn
{

namespace
{

std::vector<EditorRow> flagRows(const EditorNames &names)
{
    const schema::RefTable &t = schema::refTable(names.kind);
    return {
        {QStringLiteral("Label1"), QLatin1String(names.idCaption), QStringLiteral("Text1"),
         QLatin1String(t.idColumn), 975, QStringLiteral("Label3"),
         QStringLiteral("(Must be a power of 2)")},
        {QStringLiteral("Label8"), QStringLiteral("Bit Number:"), QStringLiteral("fldCalcBit"),
         QString(), 735, QStringLiteral("Label9"), QStringLiteral("(Max of 30)")},
        {QStringLiteral("Label2"), QLatin1String(names.nameCaption), QStringLiteral("Text2"),
         QLatin1String(t.nameColumn), 2175},
        {QStringLiteral("Label5"), QStringLiteral("Enabled? (1=yes):"), QStringLiteral("Text5"),
         QStringLiteral("qz_enabled"), 495},
    };
}

std::string typed(const QLineEdit *edit)
{
    return edit->text().trimmed().toStdString();
}

// How often the id halves (each half rounded) until it is 1 or less: the bit
// number of a power of two. Nothing for an empty, negative or non-32-bit id.
std::optional<int> bitNumber(const QLineEdit *id)
{
    const classfile::Number number = classfile::parseNumber(typed(id));
    // The default rounding mode rounds a half to the even neighbour.
    double n = std::nearbyint(number.value);
    if (number.kind != classfile::Number::Ok || n < 0 || n > std::numeric_limits<qint32>::max())
        return std::nullopt;
    int count = 0;
    while (n > 1) {
        n = std::nearbyint(n / 2);
        ++count;
    }
    return count;
}

bool sameId(const QVariant &a, const QVariant &b)
{
    if (a.isNull() || b.isNull())
        return a.isNull() && b.isNull();
    return a.toDouble() == b.toDouble();
}

} // namespace

FlagEditor::FlagEditor(const EditorNames &names, AppState &state, Prompter &prompter,
                       QWidget *parent)
    : RefEditor(names, flagRows(names), state, prompter, parent),
      mNoun(names.kind == schema::RefKind::Item ? QStringLiteral("item")
                                                : QStringLiteral("special ability")),
      mNouns(names.kind == schema::RefKind::Item ? QStringLiteral("items")
                                                 : QStringLiteral("special abilities"))
{
    mText1 = field(QStringLiteral("Text1"));
    mCalcBit = field(QStringLiteral("fldCalcBit"));
    mCalcBit->setReadOnly(true);
    mCalcBit->setFocusPolicy(Qt::ClickFocus);
    QPalette grey = mCalcBit->palette();
    grey.setColor(QPalette::Base, grey.color(QPalette::Window));
    mCalcBit->setPalette(grey);

    addWarning();
    addCalculator();
    connect(dataControl(), &DataControl::repositioned, this, &FlagEditor::db_Reposition);
}

// Beside the id, over the rows of the record part.
void FlagEditor::addWarning()
{
    mWarning = new QLabel(this);
    mWarning->setObjectName(QStringLiteral("lblIdWarning"));
    mWarning->setWordWrap(true);
    mWarning->setContentsMargins(8, 0, 0, 0);
    mWarning->setFixedWidth(twipsWide(mWarning, 1800));
    QPalette red = mWarning->palette();
    red.setColor(QPalette::WindowText, QColor(0xa0, 0x10, 0x10));
    mWarning->setPalette(red);
    QSizePolicy keep = mWarning->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    mWarning->setSizePolicy(keep);
    mWarning->hide();
    grid()->addWidget(mWarning, 0, 3, nextRow() - 1, 1, Qt::AlignTop);
}

// Below the record part, under a line.
void FlagEditor::addCalculator()
{
    QGridLayout *g = grid();
    int row = nextRow();
    auto *line1 = new QFrame(this);
    line1->setObjectName(QStringLiteral("Line1"));
    line1->setFrameShape(QFrame::HLine);
    line1->setFrameShadow(QFrame::Sunken);
    g->addWidget(line1, row++, 0, 1, -1);

    auto *label4 = new QLabel(QStringLiteral("Bit Calculator:"), this);
    label4->setObjectName(QStringLiteral("Label4"));
    QFont heading = label4->font();
    heading.setBold(true);
    heading.setPointSizeF(heading.pointSizeF() * 9.75 / 8.25);
    label4->setFont(heading);
    label4->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    g->addWidget(label4, row++, 0);

    auto label = [this](const char *name, const QString &text, QLineEdit *buddy) {
        auto *l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        l->setBuddy(buddy);
        return l;
    };
    auto edit = [this](const char *name, int twips) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        setFieldWidth(e, twips);
        return e;
    };
    mBitNum = edit("fldBitNum", 615);
    auto *btnCalc = new QPushButton(QStringLiteral("Calculate"), this);
    btnCalc->setObjectName(QStringLiteral("btnCalc"));
    btnCalc->setMinimumWidth(twipsWide(btnCalc, 975));
    mResult = edit("fldResult", 855);
    mResult->setReadOnly(true);

    // The labels' text stands at their left, their boxes end at the fields.
    g->addWidget(label("Label6", QStringLiteral("Bit Number::"), mBitNum), row, 0, Qt::AlignRight);
    g->addWidget(mBitNum, row, 1, Qt::AlignLeft);
    auto *calc = new QHBoxLayout;
    calc->addWidget(btnCalc);
    calc->addSpacing(12);
    calc->addWidget(label("Label7", QStringLiteral("Answer::"), mResult));
    calc->addWidget(mResult);
    calc->addStretch(1);
    g->addLayout(calc, row++, 2, 1, -1);
    auto *label10 = new QLabel(QStringLiteral("(Must be between 0 and 30)"), this);
    label10->setObjectName(QStringLiteral("Label10"));
    g->addWidget(label10, row++, 0, 1, -1);

    QWidget *command2 = findChild<QWidget *>(QStringLiteral("Command2"));
    setTabOrder(command2, mBitNum);
    setTabOrder(mBitNum, btnCalc);
    setTabOrder(btnCalc, mResult);

    connect(btnCalc, &QPushButton::clicked, this, &FlagEditor::btnCalc_Click);
    connect(mBitNum, &QLineEdit::returnPressed, this, &FlagEditor::btnCalc_Click);
}

void FlagEditor::db_Reposition()
{
    if (const std::optional<int> bit = bitNumber(mText1))
        mCalcBit->setText(QString::number(*bit));
    updateWarning();
}

void FlagEditor::Command1_Click()
{
    RefEditor::Command1_Click();
    if (dataControl()->isAddingNew())
        updateWarning();
}

void FlagEditor::btnCalc_Click()
{
    std::int16_t bit = -1;
    if (classfile::toWhole16(typed(mBitNum), &bit) != classfile::Number::Ok || bit < 0 ||
        bit > 30) {
        mPrompter.message(QStringLiteral("Number must be between 0 and 30"));
        return;
    }
    mResult->setText(QString::number(qint32(1) << bit));
}

void FlagEditor::updateWarning()
{
    QString text;
    const DataControl *control = dataControl();
    const Result<QList<RefEntry>> rows = mState.ref().all(mKind);
    if (control->currentIndex() >= 0 && rows) {
        const QVariant id = control->value(QLatin1String(schema::refTable(mKind).idColumn));
        qsizetype position = -1;
        int sharing = 0;
        for (qsizetype i = 0; i < rows->size(); ++i) {
            if (sameId(rows->at(i).id, id)) {
                if (position < 0)
                    position = i;
                ++sharing;
            }
        }
        const QString consequence =
            QStringLiteral("classes will not survive export and import with it.");
        const qsizetype boxes = flagBoxes(mKind);
        if (position >= boxes)
            text = QStringLiteral("A class has boxes for the first %1 %2 by id only: this is "
                                  "%3 %4, so no class can have it.")
                       .arg(boxes)
                       .arg(mNouns, mNoun)
                       .arg(position + 1);
        else if (position >= 0 && !followsPowerOfTwoRule(position, id))
            text = QStringLiteral("This is %1 %2 in id order, so its id should be %3: %4")
                       .arg(mNoun)
                       .arg(position + 1)
                       .arg(qint64(1) << position)
                       .arg(consequence);
        else if (sharing > 1)
            text = QStringLiteral("Another %1 has this id: %2").arg(mNoun, consequence);
    }
    mWarning->setText(text);
    mWarning->setVisible(!text.isEmpty());
}

} // namespace tarn
