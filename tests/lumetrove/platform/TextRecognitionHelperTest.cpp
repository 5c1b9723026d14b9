#include "lumetrove/platform/TextRecognitionMessages.h"
#include "tests/lumetrove/RecognitionHelpers.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QThread>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lumetrove {
namespace {

#ifdef LUMETROVE_TEXT_RECOGNITION_HELPER
// The program that asked was killed (or quit) while its helper reads a large image: the helper ends with it
// instead of reading on, a whole core busy for minutes, for nobody.
TEST(TextRecognitionHelperTest, AHelperWhoseProgramHangsUpEndsWithoutReadingOn)
{
    int sockets[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], STDOUT_FILENO);
    QByteArray program = QFile::encodeName(testing::builtRecognitionHelper());
    QByteArray argument(textRecognitionHelperArgument);
    char* arguments[] = {program.data(), argument.data(), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.constData(), &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(sockets[1]);
    ASSERT_EQ(spawned, 0);

    // Noise, which the engine searches for text for minutes.
    QImage noise(3000, 3000, QImage::Format_RGB32);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.bits()), noise.sizeInBytes() / 4);
    EXPECT_TRUE(recognitionmessages::sendMessage(sockets[0], recognitionmessages::encodeImage(noise)));
    close(sockets[0]);

    QDeadlineTimer deadline(20000);
    pid_t ended = 0;
    while ((ended = waitpid(pid, nullptr, WNOHANG)) == 0 && !deadline.hasExpired()) {
        QThread::msleep(20);
    }
    if (ended == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    EXPECT_EQ(ended, pid) << "the helper read on after the program was gone";
}
#endif

} // namespace
} // namespace lumetrove
