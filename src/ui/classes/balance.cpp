// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/classes/balance.h"

#include "platform/prompter.h"
#include "ui/windowicon.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageWriter>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QSaveFile>
#include <QSplitter>
#include <QSvgGenerator>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>

namespace tarn
{

namespace
{

const QStringList kTickedAtFirst{QStringLiteral("max_armor"), QStringLiteral("max_speed"),
                                 QStringLiteral("max_health")};

QString labelOf(const ClassTableModel &model, const QString &column)
{
    return model.headerData(ClassTableModel::columnOf(column), Qt::Horizontal, Qt::DisplayRole)
        .toString();
}

// A chart whose bars are replaced as a whole: series and axes go with it.
QChart *emptyChart(QChartView *view)
{
    QChart *chart = view->chart();
    chart->removeAllSeries();
    for (QAbstractAxis *axis : chart->axes())
        chart->removeAxis(axis), delete axis;
    return chart;
}

void addAxes(QChart *chart, QBarSeries *series, const QStringList &categories)
{
    chart->addSeries(series);
    auto *x = new QBarCategoryAxis;
    x->append(categories);
    // Past a few dozen the names overlap, and laying them out is most of a redraw;
    // the table and the tooltips name the classes.
    x->setLabelsVisible(categories.size() <= 40);
    chart->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);
    auto *y = new QValueAxis;
    y->setRange(0, 100);
    y->setLabelFormat(QStringLiteral("%d%"));
    y->setTitleText(QObject::tr("of the largest"));
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(y);
}

} // namespace

const QStringList &frmBalance::fields()
{
    static const QStringList list = [] {
        QStringList columns = kTickedAtFirst;
        for (const schema::AmmoColumn &ammo : schema::ammoColumns())
            columns << QLatin1String(ammo.name);
        return columns;
    }();
    return list;
}

frmBalance::frmBalance(ClassTableModel &model, Prompter &prompter, QWidget *parent)
    : QDialog(parent), mModel(model), mPrompter(prompter)
{
    setObjectName(QStringLiteral("frmBalance"));
    setWindowTitle(tr("Balance"));
    setWindowFlag(Qt::Window);
    setWindowIcon(programIcon());
    mMenuBar = new QMenuBar(this);
    QMenu *file = mMenuBar->addMenu(tr("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    file->addAction(tr("Save Chart &As..."), this, &frmBalance::mnuSaveChartAs_Click)
        ->setObjectName(QStringLiteral("mnuSaveChartAs"));

    auto *fieldsBox = new QGroupBox(tr("Fields"));
    auto *fieldsLayout = new QVBoxLayout(fieldsBox);
    for (const QString &column : fields()) {
        auto *box = new QCheckBox(labelOf(mModel, column));
        box->setObjectName(QStringLiteral("chk_") + column);
        box->setChecked(kTickedAtFirst.contains(column));
        connect(box, &QCheckBox::toggled, this, &frmBalance::redraw);
        fieldsLayout->addWidget(box);
        mBoxes << box;
    }
    fieldsLayout->addStretch();

    mChart = new QChartView(new QChart);
    mChart->setObjectName(QStringLiteral("chartClasses"));
    // Bars are upright rectangles: smoothing their edges only slows many of them.
    mChart->setAccessibleName(tr("Classes by field, as a share of the largest"));
    auto *meanPage = new QWidget;
    auto *meanLayout = new QVBoxLayout(meanPage);
    auto *chooser = new QHBoxLayout;
    mClass = new QComboBox;
    mClass->setObjectName(QStringLiteral("cboClass"));
    auto *classLabel = new QLabel(tr("&Class:"));
    classLabel->setBuddy(mClass);
    chooser->addWidget(classLabel);
    chooser->addWidget(mClass, 1);
    meanLayout->addLayout(chooser);
    mMean = new QChartView(new QChart);
    mMean->setObjectName(QStringLiteral("chartMean"));
    mMean->setRenderHint(QPainter::Antialiasing);
    mMean->setAccessibleName(tr("One class against the mean"));
    meanLayout->addWidget(mMean, 1);
    connect(mClass, &QComboBox::currentIndexChanged, this, &frmBalance::drawMean);

    mTabs = new QTabWidget;
    mTabs->setObjectName(QStringLiteral("tabCharts"));
    mTabs->addTab(mChart, tr("All Classes"));
    mTabs->addTab(meanPage, tr("Against the Mean"));

    // The same numbers, for the keyboard and screen readers.
    mTable = new QTableView;
    mTable->setObjectName(QStringLiteral("tblBalance"));
    mTable->setModel(&mModel);
    mTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    mTable->verticalHeader()->hide();
    mTable->setAccessibleName(tr("Values"));

    auto *splitter = new QSplitter;
    splitter->addWidget(mTabs);
    splitter->addWidget(mTable);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    auto *layout = new QHBoxLayout(this);
    layout->setMenuBar(mMenuBar);
    layout->addWidget(fieldsBox);
    layout->addWidget(splitter, 1);
    resize(1100, 600);

    // Many rows stored at once draw once.
    mRedraw = new QTimer(this);
    mRedraw->setSingleShot(true);
    mRedraw->setInterval(0);
    connect(mRedraw, &QTimer::timeout, this, &frmBalance::redraw);
    const auto later = qOverload<>(&QTimer::start);
    connect(&mModel, &QAbstractItemModel::modelReset, mRedraw, later);
    connect(&mModel, &QAbstractItemModel::layoutChanged, mRedraw, later);
    connect(&mModel, &QAbstractItemModel::dataChanged, mRedraw, later);
    connect(&mModel, &QAbstractItemModel::rowsInserted, mRedraw, later);
    connect(&mModel, &QAbstractItemModel::rowsRemoved, mRedraw, later);
    redraw();
}

frmBalance::~frmBalance() = default;

void frmBalance::setTicked(const QString &column, bool ticked)
{
    const qsizetype at = fields().indexOf(column);
    if (at >= 0)
        mBoxes[at]->setChecked(ticked);
}

QStringList frmBalance::ticked() const
{
    QStringList columns;
    for (qsizetype i = 0; i < mBoxes.size(); ++i)
        if (mBoxes[i]->isChecked())
            columns << fields()[i];
    return columns;
}

void frmBalance::redraw()
{
    const QStringList columns = ticked();
    const int rows = mModel.rowCount();
    mBars.clear();
    QStringList names;
    for (int r = 0; r < rows; ++r)
        names << mModel.className(r);
    QList<QList<qreal>> heights;
    for (const QString &column : columns) {
        const int at = ClassTableModel::columnOf(column);
        Bars bars{labelOf(mModel, column), {}, {}};
        double largest = 0;
        for (int r = 0; r < rows; ++r) {
            const double value = mModel.data(mModel.index(r, at), Qt::EditRole).toDouble();
            bars.values.push_back(value);
            largest = std::max(largest, value);
        }
        heights.append(QList<qreal>());
        for (const double value : bars.values) {
            bars.heights.push_back(largest > 0 ? value / largest : 0);
            heights.back() << 100 * bars.heights.back();
        }
        mBars.push_back(std::move(bars));
    }
    mNames = names;
    auto *series = new QBarSeries;
    QList<QBarSet *> sets;
    for (qsizetype f = 0; f < columns.size(); ++f) {
        auto *set = new QBarSet(mBars[size_t(f)].label);
        // Past a few dozen classes a bar is a pixel or two wide: an outline
        // hides its colour, and stroking it costs more than filling it.
        if (rows > 40)
            set->setPen(Qt::NoPen);
        set->append(heights[f]);
        set->setProperty("field", int(f));
        sets << set;
    }
    // The stored value, which the scaled bar no longer shows.
    connect(series, &QBarSeries::hovered, this, [this](bool on, int index, QBarSet *set) {
        const qsizetype field = set->property("field").toInt();
        if (!on || index < 0 || size_t(field) >= mBars.size() ||
            size_t(index) >= mBars[field].values.size()) {
            QToolTip::hideText();
            return;
        }
        QToolTip::showText(QCursor::pos(), tr("%1, %2: %3")
                                               .arg(mNames.value(index), mBars[field].label)
                                               .arg(mBars[field].values[size_t(index)]));
    });
    QChart *chart = emptyChart(mChart);
    chart->setTitle(tr("Every class, each field as a share of its largest value"));
    addAxes(chart, series, names);
    // The bars come last, so that they are laid out once, on their axes.
    series->append(sets);
    chart->legend()->setVisible(true);

    // The table shows the name and the fields ticked.
    const int nameColumn = ClassTableModel::columnOf(QStringLiteral("class_name"));
    for (int c = 0; c < mModel.columnCount(); ++c) {
        const bool shown = c == nameColumn;
        mTable->setColumnHidden(c, !shown);
    }
    for (const QString &column : columns)
        mTable->setColumnHidden(ClassTableModel::columnOf(column), false);

    const QString chosen = mClass->currentText();
    {
        const QSignalBlocker quiet(mClass);
        mClass->clear();
        mClass->addItems(names);
        mClass->setCurrentIndex(std::max(0, int(names.indexOf(chosen))));
    }
    drawMean();
}

void frmBalance::drawMean()
{
    const int row = mClass->currentIndex();
    QStringList labels;
    auto *mine = new QBarSet(row >= 0 ? mClass->currentText() : tr("(no class)"));
    auto *mean = new QBarSet(tr("Mean"));
    for (const Bars &bars : mBars) {
        labels << bars.label;
        double sum = 0;
        for (const double h : bars.heights)
            sum += h;
        mean->append(bars.heights.empty() ? 0 : 100 * sum / double(bars.heights.size()));
        mine->append(row >= 0 && size_t(row) < bars.heights.size() ? 100 * bars.heights[size_t(row)]
                                                                   : 0);
    }
    auto *series = new QBarSeries;
    series->append(mine);
    series->append(mean);
    QChart *chart = emptyChart(mMean);
    chart->setTitle(tr("One class against the configuration's mean"));
    addAxes(chart, series, labels);
}

bool frmBalance::saveChart(const QString &path)
{
    QChartView *view = mTabs->currentIndex() == 0 ? mChart : mMean;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        mPrompter.message(tr("Could not write %1: %2").arg(path, file.errorString()));
        return false;
    }
    bool written = false;
    if (QFileInfo(path).suffix().compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(view->size());
        svg.setViewBox(QRect(QPoint(), view->size()));
        svg.setTitle(windowTitle());
        QPainter painter;
        written = painter.begin(&svg);
        if (written) {
            view->render(&painter);
            written = painter.end();
        }
    } else {
        QImageWriter writer(&file, "png");
        written = writer.write(view->grab().toImage());
    }
    if (!written || !file.commit()) {
        mPrompter.message(tr("Could not write %1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}

void frmBalance::mnuSaveChartAs_Click()
{
    QString path = mPrompter.saveFileName(tr("PNG image (*.png);;SVG drawing (*.svg)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".png");
    saveChart(path);
}

} // namespace tarn
