#include "lumetrove/library/AssistantTask.h"

namespace lumetrove {

QString assistantTaskTitle(AssistantTask task)
{
    switch (task) {
    case AssistantTask::whatIsThis:
        return QStringLiteral("What is this?");
    case AssistantTask::summarize:
        return QStringLiteral("Summarize this");
    case AssistantTask::writeReply:
        return QStringLiteral("Write a reply to this");
    case AssistantTask::translateToEnglish:
        return QStringLiteral("Translate to English");
    case AssistantTask::listItems:
        return QStringLiteral("List items");
    case AssistantTask::copyText:
        return QStringLiteral("Copy text");
    case AssistantTask::webSearch:
        return QStringLiteral("Web search");
    case AssistantTask::custom:
        break;
    }
    return QString();
}

QString assistantTaskText(AssistantTask task)
{
    switch (task) {
    case AssistantTask::translateToEnglish:
        return QStringLiteral("Translate text in this image to English");
    case AssistantTask::listItems:
        return QStringLiteral("List the items in this image");
    default:
        return assistantTaskTitle(task);
    }
}

AssistantTask assistantTaskForText(const QString& text)
{
    for (const AssistantTask task : presetAssistantTasks) {
        if (text == assistantTaskText(task)) {
            return task;
        }
    }
    return AssistantTask::custom;
}

} // namespace lumetrove
