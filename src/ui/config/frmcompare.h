// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QTableWidget;

namespace tarn
{

class AppState;
class Prompter;

// Two configurations side by side: the classes only one of them has, and each
// field that differs in a class both have (matched by class name).
class frmCompare : public QDialog
{
    Q_OBJECT

public:
    // names are the configurations offered; A starts on selected (or the
    // first), B on the first other name.
    frmCompare(AppState &state, Prompter &prompter, const QStringList &names,
               const QString &selected, QWidget *parent = nullptr);

private:
    // Compares the two chosen configurations and shows the outcome.
    void compare();
    void clear(const QString &summary);

    AppState &mState;
    Prompter &mPrompter;
    QComboBox *mA = nullptr;
    QComboBox *mB = nullptr;
    QTableWidget *mTable = nullptr;
    QLabel *mSummary = nullptr;
};

} // namespace tarn
