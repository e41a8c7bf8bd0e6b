// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/checkedwrite.h"
#include "platform/edithistory.h"
#include "store/recordcursor.h"
#include "store/schema.h"

#include <QList>
#include <QPointer>
#include <QVariant>
#include <QWidget>

#include <functional>
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
// the row's key, before another row becomes current and when the window closes.
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

    void setPrompter(Prompter *prompter) { mPrompter = prompter; }
    // The rows shown, read when refresh() is called.
    void setRecordSource(Database &db, RecordSource source);

    // field names the value in messages ("Max Speed").
    void bind(QLineEdit *edit, const QString &column, schema::Kind kind, const QString &field);
    void bind(QLabel *label, const QString &column, const QString &field = {});
    void bind(QCheckBox *box, const QString &column, const QString &field);
    // A column with no control of its own: read and set through value().
    void bindValue(const QString &column, schema::Kind kind, const QString &field);

    // How a value binding's value reads in messages (a weapon's name for its id).
    void setValueText(std::function<QString(const QString &column, const QVariant &value)> text)
    {
        mValueText = std::move(text);
    }

    QVariant value(const QString &column) const;
    void setValue(const QString &column, const QVariant &value);

    // Writes back, re-runs the record source and shows its first row.
    bool refresh();
    bool moveFirst();
    bool movePrevious();
    bool moveNext();
    bool moveLast();
    bool moveTo(int index);
    // Writes back and shows the row with key; false when refused or the key is
    // not among the rows.
    bool moveToKey(RecordCursor::Key key);
    // Shows the current row again as stored now (after another view of the
    // same rows stored it). Pending edits are dropped: write back first.
    void reloadCurrent();

    int recordCount() const { return mCursor ? int(mCursor->keys().size()) : 0; }
    // -1 when no row is current (empty source, or a pending new row).
    int currentIndex() const { return mIndex; }
    RecordCursor::Key currentKey() const;
    bool isAddingNew() const { return mAddingNew; }

    // Stores the pending edits of the current row, or the pending new row.
    // False (after telling the user) when the database or a column refused.
    // When another client changed other fields of the row since it was shown,
    // the edits are stored beside their changes and the row is shown as it is
    // now. When it changed fields that the user changed too, the user is told
    // of those and chooses: keep their values (stored over the new ones; the
    // command goes on), show the stored ones (the user stays on the row), or
    // cancel (nothing is stored, the edits stay); the edits of other fields
    // are stored with either of the first two. A row deleted meanwhile may be
    // stored again as a new row. True only when every edit was stored.
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
    // The key of the first row, in the source's order, whose column holds
    // value: -1 when none does, nothing on a failure (told). The keys are
    // read again, the current row kept.
    std::optional<RecordCursor::Key> keyWhere(const QString &column, const QVariant &value);
    // Writes back, shows the row with key and stores there each bound column
    // of row that differs, checked as a write-back is: one step of the
    // history. How many fields were stored; nothing when refused (told).
    std::optional<int> storeRow(RecordCursor::Key key, const RowValues &row);

    // Takes back the last change stored in this control, or makes the last
    // one taken back again: one transaction, after storing pending edits
    // (which are then the change taken back). A row that another client
    // changed since is not written over without the user's word. False when
    // nothing was done.
    bool undo();
    bool redo();
    bool canUndo() const;
    bool canRedo() const;
    bool hasPendingEdits() const;
    // Adds a step to the history of the changes stored through this control.
    // A view that stores rows of the same source by other means records its
    // changes here, so that one undo serves both.
    void record(EditHistory::Step step);

signals:
    // The controls show another row (or none).
    void repositioned();
    // What canUndo() or canRedo() answer may have changed.
    void undoStateChanged();
    // This control (a write-back, a new or deleted row, an undo or redo)
    // stored, added or removed the row with key, for other views of the
    // same rows.
    void rowChanged(tarn::RecordCursor::Key key);

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

    // Tells the user of a failure; true when there was none.
    bool report(const Status &status) const;
    // Shows the row at index (kept in range) without writing back.
    bool go(int index);
    void show(int index);
    void showEmpty(bool enabled);
    // Puts each binding's stored value into its control.
    void showLoaded();
    void setControlsEnabled(bool enabled);
    // False when the row is gone; nothing on a failure (told).
    std::optional<bool> loadRow(RecordCursor::Key key);
    // The bound columns as last loaded or stored.
    RowValues shownRow() const;
    // Stores edits of the current row under the rule of writeBack().
    bool storeEdits(const RowValues &edits);
    bool resolveGone(const RowValues &edits);
    bool takeStep(bool undo);
    void editsChanged();
    // Reads the keys again and shows the row with key, or the row near the
    // current place when it is gone.
    bool showKey(RecordCursor::Key key);
    const Binding *binding(const QString &column) const;
    // How messages name a column (b null: a column with no binding).
    QString fieldName(const Binding *b, const QString &column) const;
    QString valueText(const Binding *b, const QVariant &value) const;
    FieldWording wording() const;
    // Inserts a row and makes it current.
    bool storeNewRow(const QStringList &columns, const QVariantList &values);
    void updateButtons();
    // The value to store for a binding, or a refusal naming the field.
    std::optional<QVariant> edited(const Binding &b, QString *problem) const;
    bool changed(const Binding &b) const;
    void tell(const QString &message) const;

    Prompter *mPrompter = nullptr;
    std::function<QString(const QString &, const QVariant &)> mValueText;
    EditHistory mHistory;
    bool mShowing = false; // the controls are being filled, not edited
    std::optional<RecordCursor> mCursor;
    std::vector<Binding> mBindings;
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
