#pragma once

#include "schema.h"

#include <QList>
#include <QPointer>
#include <QVariant>
#include <QWidget>

#include <optional>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QToolButton;

namespace tarn
{

class Database;
class Prompter;

// The record navigator of the editing windows: first/previous/next/last
// buttons around a caption, over the ordered rows of one table. It shows the
// current row in its bound controls and writes the changed columns back, by
// row id, before another row becomes current and when the window closes.
// A write that the column cannot hold is refused: the move (or close, or
// command) is cancelled and the user stays on the row with the edit. Bound
// controls are greyed while no row is current.
class DataControl : public QWidget
{
    Q_OBJECT

public:
    explicit DataControl(QWidget *parent = nullptr);
    ~DataControl() override;

    void setCaption(const QString &caption);

    void setDatabase(const Database *db) { mDb = db; }
    void setPrompter(Prompter *prompter) { mPrompter = prompter; }
    // The rows of table that match filter (an SQL condition with ? for each
    // bound value, or empty), in the given order; ties go by row id.
    void setRecordSource(const QString &table, const QString &filter = QString(),
                         const QVariantList &filterValues = {}, const QString &order = QString());

    // field names the value in messages ("Max Speed").
    void bind(QLineEdit *edit, const QString &column, schema::Kind kind, const QString &field);
    void bind(QLabel *label, const QString &column);
    void bind(QCheckBox *box, const QString &column, const QString &field);
    // A column with no control of its own: read and set through value().
    void bindValue(const QString &column, schema::Kind kind, const QString &field);

    QVariant value(const QString &column) const;
    void setValue(const QString &column, const QVariant &value);

    // Writes back, re-runs the record source and shows its first row.
    bool refresh();
    bool moveFirst();
    bool movePrevious();
    bool moveNext();
    bool moveLast();
    bool moveTo(int index);

    int recordCount() const { return int(mRowIds.size()); }
    // -1 when no row is current (empty source, or a pending new row).
    int currentIndex() const { return mIndex; }
    qint64 currentRowId() const;
    bool isAddingNew() const { return mAddingNew; }

    // Stores the pending edits of the current row, or the pending new row.
    // False (after telling the user) when the database or a column refused.
    bool writeBack();
    // Starts a pending new row with empty controls; stored by the next
    // write-back, dropped when nothing was typed.
    bool addNew();
    // Writes back, inserts a row with the given column values at once and
    // makes it current.
    bool insertRow(const QStringList &columns, const QVariantList &values);
    // Deletes the current row at once (its pending edits go with it) and
    // shows the first remaining row. A pending new row is dropped instead.
    bool deleteCurrent();

signals:
    // The controls show another row (or none).
    void repositioned();

private:
    struct Binding {
        QString column;
        schema::Kind kind;
        QString field;
        QPointer<QWidget> widget; // null for a value binding
        enum Type { Edit, Label, Check, Value } type;
        QVariant loaded;  // as stored
        QVariant current; // value bindings only
        bool wasEnabled = true;
    };

    QString selectIdsSql() const;
    bool requery(std::optional<qint64> keepRowId);
    // Shows the row at index (kept in range) without writing back.
    bool go(int index);
    void show(int index);
    void showEmpty(bool enabled);
    // Puts each binding's stored value into its control.
    void showLoaded();
    void setControlsEnabled(bool enabled);
    bool loadRow(qint64 rowId);
    // Inserts a row and makes it current.
    bool storeNewRow(const QStringList &columns, const QVariantList &values);
    void updateButtons();
    // The value to store for a binding, or a refusal naming the field.
    std::optional<QVariant> edited(const Binding &b, QString *problem) const;
    bool changed(const Binding &b) const;
    static bool inRange(schema::Kind kind, double value);
    static QString outOfRange(const Binding &b, const QString &value);
    void tell(const QString &message) const;

    const Database *mDb = nullptr;
    Prompter *mPrompter = nullptr;
    QString mTable;
    QString mFilter;
    QVariantList mFilterValues;
    QString mOrder;
    std::vector<Binding> mBindings;
    QList<qint64> mRowIds;
    int mIndex = -1;
    bool mAddingNew = false;
    int mIndexBeforeNew = 0;
    bool mControlsEnabled = true;

    QLabel *mCaption = nullptr;
    QToolButton *mFirst = nullptr;
    QToolButton *mPrevious = nullptr;
    QToolButton *mNext = nullptr;
    QToolButton *mLast = nullptr;
};

} // namespace tarn
