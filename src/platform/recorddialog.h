#pragma once

#include <QDialog>

namespace tarn
{

class DataControl;

// A modal editing window over a DataControl: closing it (close box, Escape)
// first stores the pending edits, and stays open when they are refused.
class RecordDialog : public QDialog
{
    Q_OBJECT

public:
    explicit RecordDialog(QWidget *parent = nullptr);

    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void setDataControl(DataControl *control) { mControl = control; }
    DataControl *dataControl() const { return mControl; }

private:
    DataControl *mControl = nullptr;
};

} // namespace tarn
