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

QString ScriptedPrompter::input(const QString &prompt, const QString &title,
                                const QString &defaultText)
{
    mCalls.append({Call::Input, prompt, title, defaultText});
    return next(mInputs, QString());
}

Prompter::Answer ScriptedPrompter::message(const QString &text, Buttons buttons, Icon icon,
                                           Answer defaultAnswer, const QString &title)
{
    mCalls.append({Call::Message, text, title.isEmpty() ? applicationTitle() : title, QString(),
                   buttons, icon, defaultAnswer});
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return next(mAnswers, Answer::No);
}

int ScriptedPrompter::choose(const QString &text, const QStringList &choices, int defaultChoice,
                             Icon icon)
{
    Call call{Call::Choice, text, applicationTitle(), QString(), Buttons::Ok, icon};
    call.choices = choices;
    call.defaultChoice = defaultChoice;
    mCalls.append(call);
    return next(mChoices, -1);
}

QString ScriptedPrompter::openFileName(const QString &filter)
{
    mCalls.append({Call::OpenFile, filter, QString(), QString()});
    return next(mFiles, QString());
}

QString ScriptedPrompter::saveFileName(const QString &filter)
{
    mCalls.append({Call::SaveFile, filter, QString(), QString()});
    return next(mFiles, QString());
}

std::unique_ptr<Progress> ScriptedPrompter::progress(const QString &label, qint64)
{
    mCalls.append({Call::Progress, label, QString(), QString()});
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
