#include "lumetrove/library/AssistantTask.h"

#include <QSet>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

TEST(AssistantTaskTest, EachPresetIsReadBackFromTheTextItIsStoredUnderAndAnyOtherTextIsTheUsersOwn)
{
    QSet<QString> texts;
    for (const AssistantTask task : presetAssistantTasks) {
        SCOPED_TRACE(assistantTaskTitle(task).toStdString());
        EXPECT_EQ(assistantTaskForText(assistantTaskText(task)), task);
        texts.insert(assistantTaskText(task));
    }
    EXPECT_EQ(texts.size(), qsizetype(presetAssistantTasks.size())) << "no two presets are stored alike";
    // The titles the list shows differ from the stored text where the question is longer.
    EXPECT_EQ(assistantTaskForText(QStringLiteral("Translate to English")), AssistantTask::custom);
    EXPECT_EQ(assistantTaskForText(QStringLiteral("copy text")), AssistantTask::custom);
    EXPECT_EQ(assistantTaskForText(QString()), AssistantTask::custom);
    EXPECT_TRUE(assistantTaskText(AssistantTask::custom).isEmpty());
}

} // namespace
} // namespace lumetrove
