// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace tarn
{

// Progress of a long command; update() answers false once the user cancelled.
class Progress
{
public:
    virtual ~Progress() = default;
    virtual bool update(qint64 done) = 0;
};

// Everything the windows ask or tell the user goes through here, so that tests
// can answer with a script instead of waiting on a modal dialog.
class Prompter
{
public:
    enum class Icon { None, Information, Warning, Critical, Question };
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };

    virtual ~Prompter() = default;

    // The typed text, or an empty text on Cancel.
    virtual QString input(const QString &prompt, const QString &title,
                          const QString &defaultText = QString()) = 0;
    // A password, typed unseen; an empty text on Cancel. Never shown or kept.
    virtual QString password(const QString &prompt, const QString &title) = 0;
    // An empty title shows the application's title.
    virtual Answer message(const QString &text, Buttons buttons = Buttons::Ok,
                           Icon icon = Icon::None, Answer defaultAnswer = Answer::Ok,
                           const QString &title = QString()) = 0;
    // A question answered by one of several named buttons: the index of the
    // chosen one, or -1 when the box is closed. Escape picks the last one.
    virtual int choose(const QString &text, const QStringList &choices, int defaultChoice,
                       Icon icon = Icon::Question) = 0;
    // The chosen file, or an empty text on Cancel.
    virtual QString openFileName(const QString &filter) = 0;
    virtual QString saveFileName(const QString &filter) = 0;

    virtual std::unique_ptr<Progress> progress(const QString &label, qint64 maximum) = 0;

    static QString applicationTitle() { return QStringLiteral("QZ Fabrikon (TARN)"); }
    // The filter of the class file dialogs.
    static QString classFileFilter()
    {
        return QStringLiteral("Class Config (*.class);;All Files (*)");
    }

protected:
    friend class BusyCursor;
    virtual void beginBusy() = 0;
    virtual void endBusy() = 0;
};

// A long command's progress callback (done, total; false cancels) shown in
// the Prompter's progress dialog, which opens on the first report. Not
// copyable: a copy would open a dialog of its own and lose the cancel.
class ProgressReporter
{
public:
    ProgressReporter(Prompter &prompter, QString label)
        : mPrompter(prompter), mLabel(std::move(label))
    {
    }
    ProgressReporter(const ProgressReporter &) = delete;
    ProgressReporter &operator=(const ProgressReporter &) = delete;
    bool operator()(qint64 done, qint64 total)
    {
        if (!mProgress)
            mProgress = mPrompter.progress(mLabel, total);
        mCancelled = !mProgress->update(done);
        return !mCancelled;
    }
    bool cancelled() const { return mCancelled; }

private:
    Prompter &mPrompter;
    QString mLabel;
    std::unique_ptr<Progress> mProgress;
    bool mCancelled = false;
};

// Shows the busy pointer for its lifetime, so every way out restores it.
class BusyCursor
{
public:
    explicit BusyCursor(Prompter &prompter) : mPrompter(prompter) { mPrompter.beginBusy(); }
    ~BusyCursor() { mPrompter.endBusy(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;

private:
    Prompter &mPrompter;
};

} // namespace tarn
