#include "lumetrove/platform/TextRecognitionMessages.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <cerrno>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace lumetrove {

using namespace recognitionmessages;

namespace {

/// Ends this helper as soon as the program's end of the socket is closed: the program was killed or quit, or
/// gave up on the recognition, and nobody is left to read what the engine may go on working out for minutes
/// on a large image. Only a hang-up is waited for, never a question, so the thread sleeps while the helper works.
void endWhenTheProgramHangsUp(int socket)
{
    std::thread([socket] {
        pollfd hangUp{socket, POLLRDHUP, 0};
        while (poll(&hangUp, 1, -1) < 0 && errno == EINTR) {
        }
        _exit(0);
    }).detach();
}

} // namespace

int runTextRecognitionHelper()
{
    // The socket moves off standard output, which then goes where errors go: whatever a library prints
    // cannot mix into an answer.
    const int socket = dup(STDOUT_FILENO);
    if (socket < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        return 1;
    }
    endWhenTheProgramHangsUp(socket);
    const std::shared_ptr<TextRecognizer> recognizer = makeTesseractTextRecognizer();
    while (const std::optional<QByteArray> question = receiveMessage(socket)) {
        QByteArray answer;
        const QImage image = decodeImage(*question);
        if (image.isNull()) {
            answer = encodeFailure(QStringLiteral("The image to recognise could not be read"));
        } else {
            try {
                answer = encodeAnswer(recognizer->recognize(image));
            } catch (const std::exception& error) {
                answer = encodeFailure(QString::fromUtf8(error.what()));
            }
        }
        if (!sendMessage(socket, answer)) {
            break;
        }
    }
    return 0;
}

} // namespace lumetrove
