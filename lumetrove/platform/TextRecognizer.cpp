#include "lumetrove/platform/TextRecognizer.h"

#include <QStringList>
#include <mutex>

namespace lumetrove {

QString RecognizedText::joinedLines() const
{
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(lines.size()));
    for (const RecognizedLine& line : lines) {
        texts.append(line.text);
    }
    return texts.join(QLatin1Char('\n'));
}

namespace {

struct Shared {
    std::mutex mutex;
    std::shared_ptr<TextRecognizer> recognizer;
    bool kept = true;
    std::vector<std::function<void(bool)>> keepingListeners;
};

Shared& shared()
{
    static Shared* state = new Shared;
    return *state;
}

} // namespace

std::shared_ptr<TextRecognizer> sharedTextRecognizer()
{
    Shared& state = shared();
    {
        const std::lock_guard lock(state.mutex);
        if (state.recognizer) {
            return state.recognizer;
        }
    }
    // Made unlocked: a recogniser listens to the keeping of engines, which takes the lock. The engines, their
    // models and the recognition libraries never enter this process: a program that idles in the tray stays
    // small, and a recognition that crashes ends only its helper.
    std::shared_ptr<TextRecognizer> made = makeHelperProcessTextRecognizer(textRecognitionHelperProgram());
    const std::lock_guard lock(state.mutex);
    if (!state.recognizer) {
        state.recognizer = std::move(made);
    }
    return state.recognizer;
}

void setSharedTextRecognizer(std::shared_ptr<TextRecognizer> recognizer)
{
    Shared& state = shared();
    const std::lock_guard lock(state.mutex);
    state.recognizer = std::move(recognizer);
}

void setTextRecognitionEnginesKept(bool kept)
{
    Shared& state = shared();
    std::vector<std::function<void(bool)>> listeners;
    {
        const std::lock_guard lock(state.mutex);
        state.kept = kept;
        listeners = state.keepingListeners;
    }
    for (const auto& listener : listeners) {
        listener(kept);
    }
}

bool textRecognitionEnginesKept()
{
    Shared& state = shared();
    const std::lock_guard lock(state.mutex);
    return state.kept;
}

void onTextRecognitionKeepingChanged(std::function<void(bool)> listener)
{
    Shared& state = shared();
    const std::lock_guard lock(state.mutex);
    state.keepingListeners.push_back(std::move(listener));
}

} // namespace lumetrove
