// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/classes/classtablemodel.h"

#include <QDialog>

#include <vector>

class QChartView;
class QCheckBox;
class QComboBox;
class QMenuBar;
class QTabWidget;
class QTableView;
class QTimer;

namespace tarn
{

// Every class of a configuration on one chart, the fields the user ticks as
// grouped bars, each field scaled to its largest value; a second chart sets
// one class against the mean. A table view beside the chart holds the same
// numbers. It follows the model: a stored value redraws it.
class frmBalance : public QDialog
{
    Q_OBJECT

public:
    // The numeric fields a class can be weighed by, as classdef columns.
    static const QStringList &fields();

    frmBalance(ClassTableModel &model, Prompter &prompter, QWidget *parent);
    ~frmBalance() override;

    ClassTableModel &model() const { return mModel; }
    QMenuBar *menuBar() const { return mMenuBar; }
    void setTicked(const QString &column, bool ticked);
    QStringList ticked() const;

    // What the first chart shows: for each ticked field, the stored value of
    // each class in row order and the bar's height (value / largest).
    struct Bars {
        QString label;
        std::vector<double> values, heights;
    };
    const std::vector<Bars> &bars() const { return mBars; }
    // Draws both charts again from the model, now.
    void redraw();
    // Writes the chart shown as PNG, or SVG for a name ending in .svg; the
    // file is replaced only when all of it was written.
    bool saveChart(const QString &path);

private:
    void mnuSaveChartAs_Click();
    void drawMean();

    ClassTableModel &mModel;
    Prompter &mPrompter;
    QMenuBar *mMenuBar = nullptr;
    QList<QCheckBox *> mBoxes;
    QChartView *mChart = nullptr;
    QChartView *mMean = nullptr;
    QComboBox *mClass = nullptr;
    QTableView *mTable = nullptr;
    QTimer *mRedraw = nullptr;
    QTabWidget *mTabs = nullptr;
    std::vector<Bars> mBars;
    QStringList mNames; // of the bars drawn
};

} // namespace tarn
