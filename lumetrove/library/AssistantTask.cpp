#include "lumetrove/library/AssistantTask.h"

#include <cstddef>
#include <iterator>

namespace lumetrove {
namespace {

struct Preset {
    const char* title;
    const char* text;
};

// In the order of `presetAssistantTasks`, which is the enum's.
constexpr Preset presets[] = {
    {"What is this?", "What is this?"},
    {"Summarize this", "Summarize this"},
    {"Write a reply to this", "Write a reply to this"},
    {"Translate to English", "Translate text in this image to English"},
    {"List items", "List the items in this image"},
    {"Copy text", "Copy text"},
    {"Web search", "Web search"},
};
static_assert(std::size(presets) == presetAssistantTasks.size());
static_assert([] {
    for (std::size_t i = 0; i < presetAssistantTasks.size(); ++i) {
        if (static_cast<std::size_t>(presetAssistantTasks[i]) != i) {
            return false;
        }
    }
    return true;
}());

const Preset* presetOf(AssistantTask task)
{
    const auto index = static_cast<std::size_t>(task);
    return index < std::size(presets) ? &presets[index] : nullptr;
}

} // namespace

QString assistantTaskTitle(AssistantTask task)
{
    const Preset* preset = presetOf(task);
    return preset ? QString::fromLatin1(preset->title) : QString();
}

QString assistantTaskText(AssistantTask task)
{
    const Preset* preset = presetOf(task);
    return preset ? QString::fromLatin1(preset->text) : QString();
}

AssistantTask assistantTaskForText(const QString& text)
{
    for (const AssistantTask task : presetAssistantTasks) {
        if (text == QLatin1String(presetOf(task)->text)) {
            return task;
        }
    }
    return AssistantTask::custom;
}

} // namespace lumetrove
