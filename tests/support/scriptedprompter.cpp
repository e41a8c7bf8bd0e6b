#include "scriptedprompter.h"

namespace tarn
{

namespace
{

class ScriptedProgress : public Progress
{
public:
    ScriptedProgress(qint64 cancelAt, qint64 *last) : mCancelAt(cancelAt), mLast(last) {}
    bool update(qint64 done) override
    {
        *mLast = done;
        return mCancelAt < 0 || done < mCancelAt;
    }

private:
    qint64 mCancelAt;
    qint64 *mLast;
};

} // namespace

template<typename T> T ScriptedPrompter::next(std::deque<T> &queue, T cancel)
{
    if (queue.empty()) {
        ++mUnexpected;
        return cancel;
    }
    T answer = queue.front();
    queue.pop_front();
    return answer;
}

QString ScriptedPrompter::input(const QString &prompt, const QString &title, const QString &)
{
    mCalls.append({Call::Input, prompt, title});
    return next(mInputs, QString());
}

QString ScriptedPrompter::password(const QString &prompt, const QString &title)
{
    mCalls.append({Call::Password, prompt, title});
    return next(mPasswords, QString());
}

Prompter::Answer ScriptedPrompter::message(const QString &text, Buttons buttons, Icon,
                                           Answer defaultAnswer, const QString &title)
{
    mCalls.append(
        {Call::Message, text, title.isEmpty() ? applicationTitle() : title, defaultAnswer});
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return next(mAnswers, Answer::No);
}

int ScriptedPrompter::choose(const QString &text, const QStringList &choices, int, Icon)
{
    mCalls.append({Call::Choice, text, applicationTitle(), Answer::Ok, choices});
    return next(mChoices, -1);
}

QString ScriptedPrompter::openFileName(const QString &filter)
{
    mCalls.append({Call::OpenFile, filter});
    return next(mFiles, QString());
}

QString ScriptedPrompter::saveFileName(const QString &filter)
{
    mCalls.append({Call::SaveFile, filter});
    return next(mFiles, QString());
}

std::unique_ptr<Progress> ScriptedPrompter::progress(const QString &label, qint64)
{
    mCalls.append({Call::Progress, label});
    return std::make_unique<ScriptedProgress>(mCancelAt, &mLastProgress);
}

QStringList ScriptedPrompter::messages() const
{
    QStringList texts;
    for (const Call &call : mCalls)
        if (call.kind == Call::Message)
            texts << call.text;
    return texts;
}

QString ScriptedPrompter::lastMessage() const
{
    const QStringList texts = messages();
    return texts.isEmpty() ? QString() : texts.last();
}

void ScriptedPrompter::beginBusy()
{
    ++mBusyDepth;
    ++mBusyCount;
}

void ScriptedPrompter::endBusy()
{
    --mBusyDepth;
}

} // namespace tarn
