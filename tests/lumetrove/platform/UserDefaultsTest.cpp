#include "lumetrove/platform/UserDefaults.h"

#include <QFile>
#include <QSettings>
#include <gtest/gtest.h>

namespace lumetrove {
namespace {

constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

/// The file's mode bits; Qt's "user" bits only repeat those of whoever runs the test.
QFileDevice::Permissions mode(const QString& path)
{
    return QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
}

class UserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override { UserDefaults::remove(UserDefaults::openAIAPIKey); }
    void TearDown() override { UserDefaults::remove(UserDefaults::openAIAPIKey); }
};

TEST_F(UserDefaultsTest, AKeyIsStoredExactlyAsGivenAndReadBackByAnyNewStore)
{
    EXPECT_FALSE(UserDefaults::string(UserDefaults::openAIAPIKey));

    for (const QString& key : {QStringLiteral(" sk-with blanks "), QString()}) {
        UserDefaults::setValue(UserDefaults::openAIAPIKey, key);
        const QSettings fresh(QStringLiteral("Lumetrove"), QStringLiteral("Lumetrove"));
        EXPECT_TRUE(fresh.contains(UserDefaults::openAIAPIKey));
        EXPECT_EQ(fresh.value(UserDefaults::openAIAPIKey).toString(), key);
        EXPECT_EQ(UserDefaults::string(UserDefaults::openAIAPIKey), key);
    }
}

TEST_F(UserDefaultsTest, TheFileHoldingTheKeyIsReadableByItsOwnerOnly)
{
    const QString path = UserDefaults::fileName();
    ASSERT_TRUE(path.endsWith(QStringLiteral("/Lumetrove/Lumetrove.conf"))) << path.toStdString();

    // Made anew by the first write, and mended when something else widened it.
    QFile::remove(path);
    UserDefaults::setValue(UserDefaults::openAIAPIKey, QStringLiteral("sk-first"));
    EXPECT_EQ(mode(path), ownerOnly);

    QFile::setPermissions(path, ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    UserDefaults::setValue(UserDefaults::openAIAPIKey, QStringLiteral("sk-second"));
    EXPECT_EQ(mode(path), ownerOnly);
    EXPECT_EQ(UserDefaults::string(UserDefaults::openAIAPIKey), QStringLiteral("sk-second"));
}

TEST_F(UserDefaultsTest, BooleansReadBackAndAbsentIsFalse)
{
    UserDefaults::remove(UserDefaults::hasLaunchedBefore);
    EXPECT_FALSE(UserDefaults::boolean(UserDefaults::hasLaunchedBefore));
    UserDefaults::setValue(UserDefaults::hasLaunchedBefore, true);
    EXPECT_TRUE(QSettings(QStringLiteral("Lumetrove"), QStringLiteral("Lumetrove"))
                    .value(UserDefaults::hasLaunchedBefore)
                    .toBool());
    EXPECT_TRUE(UserDefaults::boolean(UserDefaults::hasLaunchedBefore));
    UserDefaults::remove(UserDefaults::hasLaunchedBefore);
}

} // namespace
} // namespace lumetrove
