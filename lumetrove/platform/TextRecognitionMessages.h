#pragma once

#include "lumetrove/platform/TextRecognizer.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <optional>

// The messages between a program and its text-recognition helper, shared by both sides: each is a 32-bit length,
// then a QDataStream record, over a local stream socket.
namespace lumetrove::recognitionmessages {

/// False when the socket failed or its other end has gone.
bool sendMessage(int socket, const QByteArray& message);
/// The next message; none when the socket ended or failed, or the message is larger than any question.
std::optional<QByteArray> receiveMessage(int socket);

QByteArray encodeImage(const QImage& image);
/// The image of a question; a null image when the message is not one.
QImage decodeImage(const QByteArray& message);

QByteArray encodeAnswer(const RecognizedText& text);
QByteArray encodeFailure(const QString& reason);
/// The text of an answer. Throws `TextRecognitionError` for a failure or a message that is not an answer.
RecognizedText decodeAnswer(const QByteArray& message);

} // namespace lumetrove::recognitionmessages
