#include "lumetrove/platform/TextRecognitionMessages.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <unistd.h>

namespace lumetrove {

using namespace recognitionmessages;

int runTextRecognitionHelper()
{
    // The socket moves off standard output, which then goes where errors go: whatever a library prints
    // cannot mix into an answer.
    const int socket = dup(STDOUT_FILENO);
    if (socket < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        return 1;
    }
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
