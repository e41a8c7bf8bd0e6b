// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/prompter.h"

namespace tarn
{

// The Prompter of the running program: Qt's dialogs over the active window.
class QtPrompter : public Prompter
{
public:
    QString input(const QString &prompt, const QString &title, const QString &defaultText) override;
    QString password(const QString &prompt, const QString &title) override;
    Answer message(const QString &text, Buttons buttons, Icon icon, Answer defaultAnswer,
                   const QString &title) override;
    int choose(const QString &text, const QStringList &choices, int defaultChoice,
               Icon icon) override;
    QString openFileName(const QString &filter) override;
    QString saveFileName(const QString &filter) override;
    std::unique_ptr<Progress> progress(const QString &label, qint64 maximum) override;

protected:
    void beginBusy() override;
    void endBusy() override;

private:
    QString mLastFile;
};

} // namespace tarn
