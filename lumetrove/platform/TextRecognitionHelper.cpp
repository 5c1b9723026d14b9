#include "lumetrove/platform/TextRecognitionMessages.h"
#include "lumetrove/platform/TextRecognizer.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace lumetrove {

// A recognition is one message each way over a local stream socket: a 32-bit length, then a QDataStream
// record. The question carries the image's raw pixels (a full-HD screen is 8 MB, copied in milliseconds);
// the answer carries the lines, or the error's message.

namespace {

constexpr quint32 largestMessage = 1u << 30;

bool writeAll(int socket, const char* data, size_t size)
{
    while (size > 0) {
        // A helper that ended gives an error here, not a SIGPIPE that would end this process.
        const ssize_t written = send(socket, data, size, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool readAll(int socket, char* data, size_t size)
{
    while (size > 0) {
        const ssize_t got = read(socket, data, size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

} // namespace

namespace recognitionmessages {

bool sendMessage(int socket, const QByteArray& message)
{
    const quint32 size = static_cast<quint32>(message.size());
    return writeAll(socket, reinterpret_cast<const char*>(&size), sizeof size) &&
           writeAll(socket, message.constData(), static_cast<size_t>(message.size()));
}

std::optional<QByteArray> receiveMessage(int socket)
{
    quint32 size = 0;
    if (!readAll(socket, reinterpret_cast<char*>(&size), sizeof size) || size > largestMessage) {
        return std::nullopt;
    }
    QByteArray message(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (!readAll(socket, message.data(), size)) {
        return std::nullopt;
    }
    return message;
}

QByteArray encodeImage(const QImage& image)
{
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << qint32(image.width()) << qint32(image.height()) << qint32(image.format()) << qint64(image.bytesPerLine())
        << image.devicePixelRatio()
        << QByteArray::fromRawData(reinterpret_cast<const char*>(image.constBits()),
                                   static_cast<qsizetype>(image.sizeInBytes()));
    return message;
}

QImage decodeImage(const QByteArray& message)
{
    QDataStream in(message);
    qint32 width = 0, height = 0, format = 0;
    qint64 bytesPerLine = 0;
    double pixelRatio = 1;
    QByteArray bits;
    in >> width >> height >> format >> bytesPerLine >> pixelRatio >> bits;
    if (in.status() != QDataStream::Ok || width <= 0 || height <= 0 || format <= QImage::Format_Invalid ||
        format >= QImage::NImageFormats || bytesPerLine <= 0 || bits.size() != bytesPerLine * height) {
        return {};
    }
    const QImage view(reinterpret_cast<const uchar*>(bits.constData()), width, height, bytesPerLine,
                      static_cast<QImage::Format>(format));
    if (view.isNull() || view.sizeInBytes() != bits.size()) {
        return {};
    }
    QImage image = view.copy();
    image.setDevicePixelRatio(pixelRatio);
    return image;
}

QByteArray encodeAnswer(const RecognizedText& text)
{
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << true << quint32(text.lines.size());
    for (const RecognizedLine& line : text.lines) {
        out << line.text << line.boundingBox << quint32(line.words.size());
        for (const RecognizedWord& word : line.words) {
            out << word.text << word.boundingBox << word.confidence;
        }
    }
    return message;
}

QByteArray encodeFailure(const QString& reason)
{
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << false << reason;
    return message;
}

RecognizedText decodeAnswer(const QByteArray& message)
{
    QDataStream in(message);
    bool succeeded = false;
    in >> succeeded;
    if (!succeeded) {
        QString reason;
        in >> reason;
        throw TextRecognitionError(in.status() == QDataStream::Ok
                                       ? reason.toStdString()
                                       : "The text recognition helper's answer is unreadable");
    }
    RecognizedText text;
    quint32 lineCount = 0;
    in >> lineCount;
    for (quint32 lineIndex = 0; lineIndex < lineCount && in.status() == QDataStream::Ok; ++lineIndex) {
        RecognizedLine& line = text.lines.emplace_back();
        quint32 wordCount = 0;
        in >> line.text >> line.boundingBox >> wordCount;
        for (quint32 wordIndex = 0; wordIndex < wordCount && in.status() == QDataStream::Ok; ++wordIndex) {
            RecognizedWord& word = line.words.emplace_back();
            in >> word.text >> word.boundingBox >> word.confidence;
        }
    }
    if (in.status() != QDataStream::Ok) {
        throw TextRecognitionError("The text recognition helper's answer is unreadable");
    }
    return text;
}

} // namespace recognitionmessages

namespace {

using namespace recognitionmessages;

/// One helper process and this end of its socket.
struct Helper {
    pid_t pid = -1;
    int socket = -1;
};

/// Closes the socket, which ends the helper, and waits for it on a thread of its own: the caller may be
/// the main thread, which never waits on a process.
void endHelper(Helper helper)
{
    close(helper.socket);
    std::thread([pid = helper.pid] {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

class HelperProcessTextRecognizer final : public TextRecognizer {
public:
    HelperProcessTextRecognizer(const QString& executable, std::chrono::milliseconds idleLimit)
        : state_(std::make_shared<State>(QFile::encodeName(executable), idleLimit))
    {
        onTextRecognitionKeepingChanged([weak = std::weak_ptr<State>(state_)](bool kept) {
            if (const std::shared_ptr<State> state = weak.lock(); state && !kept) {
                state->endIdle();
            }
        });
    }

    ~HelperProcessTextRecognizer() override { state_->endIdle(); }

    RecognizedText recognize(const QImage& image) const override { return recognizeUnlessCancelled(image, {}); }

    RecognizedText recognizeUnlessCancelled(const QImage& image, const std::function<bool()>& cancelled) const override
    {
        if (image.isNull()) {
            throw TextRecognitionError("The image to recognise is empty");
        }
        const Helper helper = state_->take();
        std::optional<QByteArray> answer;
        if (sendMessage(helper.socket, encodeImage(image))) {
            if (cancelled && !awaitAnswer(helper.socket, cancelled)) {
                // The helper would read on to the end of the image: it is ended, and a later recognition
                // starts another.
                kill(helper.pid, SIGKILL);
                endHelper(helper);
                throw TextRecognitionCancelled();
            }
            answer = receiveMessage(helper.socket);
        }
        if (!answer) {
            endHelper(helper);
            throw TextRecognitionError("The text recognition helper ended before it answered");
        }
        state_->giveBack(helper);
        return decodeAnswer(*answer);
    }

private:
    /// Waits until the helper's answer (or its end) can be read; false when `cancelled` says so first.
    static bool awaitAnswer(int socket, const std::function<bool()>& cancelled)
    {
        constexpr int checkMilliseconds = 20;
        while (!cancelled()) {
            pollfd readable{socket, POLLIN, 0};
            const int ready = poll(&readable, 1, checkMilliseconds);
            if (ready > 0 || (ready < 0 && errno != EINTR)) {
                return true;
            }
        }
        return false;
    }

    struct State {
        using Clock = std::chrono::steady_clock;

        State(QByteArray program, std::chrono::milliseconds limit) : executable(std::move(program)), idleLimit(limit) {}

        ~State()
        {
            {
                const std::lock_guard lock(mutex);
                stopping = true;
            }
            wake.notify_all();
            if (reaper.joinable()) {
                reaper.join();
            }
        }

        Helper take()
        {
            {
                const std::lock_guard lock(mutex);
                if (!idle.empty()) {
                    // The one used last: the others are the first to have waited long enough to be ended.
                    const Helper helper = idle.back().helper;
                    idle.pop_back();
                    return helper;
                }
            }
            return start();
        }

        /// Idle from now on; ended at once when engines are not kept (asked after it is idle, as engines are),
        /// otherwise once it has had no work for the idle limit.
        void giveBack(Helper helper)
        {
            {
                const std::lock_guard lock(mutex);
                idle.push_back(IdleHelper{helper, Clock::now()});
                if (!reaper.joinable()) {
                    reaper = std::thread([this] { endWhenIdleTooLong(); });
                }
            }
            wake.notify_all();
            if (!textRecognitionEnginesKept()) {
                endIdle();
            }
        }

        void endIdle()
        {
            std::vector<IdleHelper> ended;
            {
                const std::lock_guard lock(mutex);
                ended.swap(idle);
            }
            for (const IdleHelper& idleHelper : ended) {
                endHelper(idleHelper.helper);
            }
        }

        /// Ends each helper that has waited the idle limit for work: its engine and model (tens of megabytes)
        /// go back to the system, and the next recognition starts a helper again. Runs on a thread of its own,
        /// asleep while no helper waits.
        void endWhenIdleTooLong()
        {
            std::unique_lock lock(mutex);
            while (!stopping) {
                if (idle.empty()) {
                    wake.wait(lock);
                    continue;
                }
                // Helpers are given back in time order: the first waited longest.
                const Clock::time_point due = idle.front().since + idleLimit;
                if (Clock::now() < due) {
                    wake.wait_until(lock, due);
                    continue;
                }
                const Helper helper = idle.front().helper;
                idle.erase(idle.begin());
                lock.unlock();
                endHelper(helper);
                lock.lock();
            }
        }

        Helper start() const
        {
            int sockets[2];
            if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
                throw TextRecognitionError("No socket for the text recognition helper");
            }
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            // The helper's standard input and output are its end of the socket (dup2 clears close-on-exec).
            posix_spawn_file_actions_adddup2(&actions, sockets[1], STDIN_FILENO);
            posix_spawn_file_actions_adddup2(&actions, sockets[1], STDOUT_FILENO);
            QByteArray program = executable;
            QByteArray argument(textRecognitionHelperArgument);
            char* arguments[] = {program.data(), argument.data(), nullptr};
            // The helper's OpenMP reads its limits once, as it starts: one thread, and workers that sleep
            // rather than spin while they wait.
            std::vector<QByteArray> variables;
            for (char** variable = environ; *variable != nullptr; ++variable) {
                if (!QByteArray(*variable).startsWith("OMP_THREAD_LIMIT=") &&
                    !QByteArray(*variable).startsWith("OMP_WAIT_POLICY=")) {
                    variables.emplace_back(*variable);
                }
            }
            variables.emplace_back("OMP_THREAD_LIMIT=1");
            variables.emplace_back("OMP_WAIT_POLICY=PASSIVE");
            std::vector<char*> environment;
            for (QByteArray& variable : variables) {
                environment.push_back(variable.data());
            }
            environment.push_back(nullptr);
            pid_t pid = -1;
            const int failed = posix_spawn(&pid, program.constData(), &actions, nullptr, arguments, environment.data());
            posix_spawn_file_actions_destroy(&actions);
            close(sockets[1]);
            if (failed != 0) {
                close(sockets[0]);
                throw TextRecognitionError("The text recognition helper could not be started");
            }
            return Helper{pid, sockets[0]};
        }

        struct IdleHelper {
            Helper helper;
            Clock::time_point since;
        };

        const QByteArray executable;
        const std::chrono::milliseconds idleLimit;
        std::mutex mutex;
        std::condition_variable wake;
        /// In the order they were given back.
        std::vector<IdleHelper> idle;
        std::thread reaper;
        bool stopping = false;
    };

    std::shared_ptr<State> state_;
};

} // namespace

std::shared_ptr<TextRecognizer> makeHelperProcessTextRecognizer(const QString& executable,
                                                                std::chrono::milliseconds idleLimit)
{
    return std::make_shared<HelperProcessTextRecognizer>(executable, idleLimit);
}

QString textRecognitionHelperProgram()
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(textRecognitionHelperName);
}

} // namespace lumetrove
