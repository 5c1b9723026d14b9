#pragma once

#include <QString>
#include <array>

namespace lumetrove {

/// What the assistant is asked about a captured area: one of the questions the overlay's list offers, or a
/// question the user typed. A screenshot keeps the task as its text (what the model is asked, and what is
/// stored); the code tells tasks apart by this value, found from that text by `assistantTaskForText`.
enum class AssistantTask {
    whatIsThis,
    summarize,
    writeReply,
    translateToEnglish,
    listItems,
    copyText,
    webSearch,
    /// A question of the user's own.
    custom,
};

/// The presets in the order the list shows them (the enum's order); a separator follows `listItems`.
inline constexpr std::array<AssistantTask, 7> presetAssistantTasks{
    AssistantTask::whatIsThis, AssistantTask::summarize, AssistantTask::writeReply, AssistantTask::translateToEnglish,
    AssistantTask::listItems,  AssistantTask::copyText,  AssistantTask::webSearch,
};

/// The title the list shows for a preset ("Translate to English"); empty for `custom`.
QString assistantTaskTitle(AssistantTask task);

/// The text stored and asked for a preset ("Translate text in this image to English"); empty for `custom`.
QString assistantTaskText(AssistantTask task);

/// The preset whose text is exactly `text`; `custom` for any other text.
AssistantTask assistantTaskForText(const QString& text);

/// Done at once on the area's recognised text, with nothing stored: copying it, or searching the web for it.
constexpr bool actsOnTextOnly(AssistantTask task)
{
    return task == AssistantTask::copyText || task == AssistantTask::webSearch;
}

/// A preset that works on the area's text alone, so that an area without text is answered "No text found.".
constexpr bool needsRecognizedText(AssistantTask task)
{
    return task == AssistantTask::summarize || task == AssistantTask::writeReply ||
           task == AssistantTask::translateToEnglish;
}

} // namespace lumetrove
