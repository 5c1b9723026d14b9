#pragma once

#include "aiclient/OpenAI.h"
#include "lumetrove/ai/AIVisionViewModel.h"
#include "lumetrove/library/Screenshot.h"
#include "lumetrove/library/ScreenshotsDB.h"
#include "lumetrove/platform/UserDefaults.h"
#include "tests/aiclient/LoopbackServer.h"
#include "tests/lumetrove/library/LibraryTest.h"

#include <QImage>
#include <atomic>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

namespace lumetrove::testing {

/// The body of a chat completion whose one choice holds `answer` as its text.
inline std::string chatReply(const nlohmann::json& answer)
{
    const nlohmann::json reply = {
        {"id", "chatcmpl-1"},
        {"object", "chat.completion"},
        {"created", 1700000000},
        {"model", "gpt-4o"},
        {"choices",
         {{{"index", 0}, {"message", {{"role", "assistant"}, {"content", answer.dump()}}}, {"finish_reason", "stop"}}}},
    };
    return reply.dump();
}

/// The size of the image a chat-completions request carries.
inline QSize sentImageSize(const std::string& requestBody)
{
    const auto body = nlohmann::json::parse(requestBody);
    const std::string url = body["messages"].back()["content"][0]["image_url"]["url"];
    const std::string prefix = "data:image/jpeg;base64,";
    return QImage::fromData(QByteArray::fromBase64(QByteArray::fromStdString(url.substr(prefix.size())))).size();
}

/// An open library, a stored API key, and a loopback AI service whose answer, delay and status each test sets.
class AIServiceTest : public OpenLibraryTest {
protected:
    void SetUp() override
    {
        OpenLibraryTest::SetUp();
        UserDefaults::setValue(UserDefaults::openAIAPIKey, "sk-test");
        server.onPost("/v1/chat/completions", [this](const httplib::Request& request, httplib::Response& response) {
            ++requests;
            const int delay = delayMs;
            if (delay > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            }
            std::lock_guard lock(replyMutex);
            response.status = status;
            response.set_content(answerFor ? answerFor(request) : reply, "application/json");
        });
        setAnswer({{"name", "sales_report-final"}, {"keywords", "Sales report 2024 q3"}, {"description", "A chart."}});
    }

    void TearDown() override
    {
        UserDefaults::remove(UserDefaults::openAIAPIKey);
        UserDefaults::remove(UserDefaults::imageZoom);
        OpenLibraryTest::TearDown();
    }

    void setAnswer(const nlohmann::json& answer)
    {
        std::lock_guard lock(replyMutex);
        reply = chatReply(answer);
    }

    /// Sends the model's requests to the loopback service.
    void useLoopbackService(AIVisionViewModel& model)
    {
        model.setClientFactory([this](aiclient::Configuration configuration) {
            return std::make_shared<aiclient::OpenAI>(
                aiclient::Configuration(configuration.token(), std::nullopt, "127.0.0.1", server.port(), "http",
                                        timeoutSeconds)
                    .withRequestBound(configuration.requestDeadline(), configuration.minimumBytesPerSecond()));
        });
    }

    /// A stored screenshot whose image file is a real PNG of the given size.
    ScreenshotPtr screenshot(const QString& name, QSize size = {64, 48},
                             std::optional<QString> text = QString("some text"),
                             std::optional<QString> aiAssistantTask = std::nullopt)
    {
        const QString file = screenshotsDirectory() + "/" + name + ".png";
        QDir().mkpath(screenshotsDirectory());
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        image.save(file, "PNG");
        const QString path = QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded);
        // The column holds no NULL; the record may still hold no text (a screenshot not read yet).
        const std::optional<qint64> id = store->insertScreenshot({.name = name,
                                                                  .path = path,
                                                                  .text = text.value_or(QStringLiteral("")),
                                                                  .isAIAssistantTask = aiAssistantTask.has_value(),
                                                                  .aiAssistantTask = aiAssistantTask});
        if (!id) {
            ADD_FAILURE() << "screenshot not stored";
            return nullptr;
        }
        return Screenshot::fromRow({.id = *id,
                                    .name = name,
                                    .path = path,
                                    .text = text,
                                    .isAIAssistantTask = aiAssistantTask.has_value(),
                                    .aiAssistantTask = aiAssistantTask},
                                   store);
    }

    QString screenshotsDirectory() const { return libraryDirectory() + "/Screenshots"; }

    /// Column 0 of each row of `sql`, texts without their quotes.
    std::vector<std::string> texts(const std::string& sql)
    {
        std::vector<std::string> values = column(sql);
        for (std::string& value : values) {
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
        }
        return values;
    }

    std::atomic<int> requests{0};
    std::atomic<int> delayMs{0};
    std::atomic<int> status{200};
    double timeoutSeconds = 20;
    std::mutex replyMutex;
    std::string reply;
    /// When set, makes the answer of each request instead of `reply` (called under `replyMutex`).
    std::function<std::string(const httplib::Request&)> answerFor;
    // Last, so that it stops (and its handlers end) before the members they use go.
    aiclient::testing::LoopbackServer server;
};

} // namespace lumetrove::testing
