// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store/recordcursor.h"

#include <functional>
#include <vector>

namespace tarn
{

// The changes a window has stored, in order, to take back and make again.
// Rows are known by their keys; a row that is stored again gets a new key,
// which rekey() passes to every step.
class EditHistory
{
public:
    struct Step {
        enum Kind {
            Update, // columns of a row written
            Insert, // a row added
            Remove, // a row deleted
            Window, // rows the window changed together: it takes them back and makes them again
        };
        Kind kind;
        RecordCursor::Key key;
        // Update: the written columns as they were before. Remove: the whole
        // row. Insert: the whole row once the step is undone (to add it again).
        RowValues before;
        // Update and Insert: the row's columns as the window had them after the step.
        RowValues after;
        // Window: takes the step back (true) or makes it again; false when it did not.
        std::function<bool(bool undo)> take{};
    };

    // A new step; the steps that were undone can no longer be redone.
    void push(Step step);
    bool canUndo() const { return mDone > 0; }
    bool canRedo() const { return mDone < mSteps.size(); }
    // The step that undo or redo would take back or make again.
    Step &next(bool undo) { return mSteps.at(undo ? mDone - 1 : mDone); }
    // That step is taken back or made again.
    void advance(bool undo) { undo ? --mDone : ++mDone; }
    // Takes out that step: it cannot be done any more.
    void drop(bool undo);
    void rekey(RecordCursor::Key from, RecordCursor::Key to);

private:
    std::vector<Step> mSteps;
    std::size_t mDone = 0; // steps [0, mDone) are done
};

} // namespace tarn
