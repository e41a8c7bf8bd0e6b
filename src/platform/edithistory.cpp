// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/edithistory.h"

namespace tarn
{

void EditHistory::push(Step step)
{
    mSteps.resize(mDone);
    mSteps.push_back(std::move(step));
    mDone = mSteps.size();
}

void EditHistory::drop(bool undo)
{
    if (undo)
        --mDone;
    mSteps.erase(mSteps.begin() + std::ptrdiff_t(mDone));
}

void EditHistory::rekey(RecordCursor::Key from, RecordCursor::Key to)
{
    for (Step &step : mSteps)
        if (step.key == from)
            step.key = to;
}

} // namespace tarn
