#include "aiclient/CurlSession.h"

#include "TestSupport.h"

#include <arpa/inet.h>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace aiclient;
using aiclient::testing::errorOf;
using aiclient::testing::LoopbackServer;

namespace {

struct OneShot {
    std::optional<std::string> data;
    std::optional<HttpResponse> response;
    std::exception_ptr error;
};

OneShot send(HttpRequest request)
{
    std::promise<OneShot> promise;
    auto future = promise.get_future();
    auto session = std::make_shared<CurlSession>();
    session
        ->dataTask(std::move(request),
                   [&promise](std::optional<std::string> data, std::optional<HttpResponse> response,
                              std::exception_ptr error) {
                       promise.set_value({data, response, error});
                   })
        ->resume();
    return aiclient::testing::waitFor(future);
}

std::string urlFor(const LoopbackServer& server, const std::string& path)
{
    return "http://127.0.0.1:" + std::to_string(server.port()) + path;
}

bool mapsLibcurl()
{
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.find("/libcurl") != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

TEST(CurlSession, SendsMethodHeadersAndBodyAndReturnsTheAnswer)
{
    LoopbackServer server;
    server.onPost("/v1/echo", [](const httplib::Request& request, httplib::Response& response) {
        response.status = 418;
        response.set_content("got:" + request.body, "text/plain");
    });
    HttpRequest request;
    request.url = urlFor(server, "/v1/echo");
    request.method = "POST";
    request.headers = {{"Authorization", "Bearer k"}, {"Content-Type", "application/json"}};
    request.body = std::string("{\"a\":1}\0x", 9);
    OneShot answer = send(request);
    ASSERT_FALSE(answer.error);
    EXPECT_EQ(answer.data, "got:" + *request.body);
    ASSERT_TRUE(answer.response);
    EXPECT_EQ(answer.response->statusCode, 418);

    auto recorded = server.requests().at(0);
    EXPECT_EQ(recorded.method, "POST");
    EXPECT_EQ(recorded.headers.find("Authorization")->second, "Bearer k");
    EXPECT_EQ(recorded.headers.count("Expect"), 0u);
}

TEST(CurlSession, EmptyAnswerIsPresentButEmpty)
{
    LoopbackServer server;
    server.onGet("/empty", [](const httplib::Request&, httplib::Response& response) { response.status = 204; });
    HttpRequest request;
    request.url = urlFor(server, "/empty");
    OneShot answer = send(request);
    ASSERT_FALSE(answer.error);
    EXPECT_EQ(answer.data, "");
}

TEST(CurlSession, RefusedConnectionIsCannotConnect)
{
    // A socket bound but never listening refuses every connection, and holding it keeps a test running beside
    // this one from taking the port the way a freed server port could be taken.
    int bound = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(bound, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(bound, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(bound, reinterpret_cast<sockaddr*>(&address), &length), 0);
    int port = ntohs(address.sin_port);
    HttpRequest request;
    request.url = "http://127.0.0.1:" + std::to_string(port) + "/";
    OneShot answer = send(request);
    ::close(bound);
    ASSERT_TRUE(answer.error);
    EXPECT_EQ(errorOf<TransportError>(answer.error).kind(), TransportError::Kind::cannotConnect);
}

TEST(CurlSession, HeaderWithLineBreakIsNeverSent)
{
    LoopbackServer server;
    server.onGet("/", [](const httplib::Request&, httplib::Response& response) { response.set_content("x", "a/b"); });
    HttpRequest request;
    request.url = urlFor(server, "/");
    request.headers = {{"Authorization", "Bearer k\r\nX-Injected: yes"}};
    OneShot answer = send(request);
    EXPECT_TRUE(answer.error);
    EXPECT_TRUE(server.requests().empty());
}

TEST(CurlSession, UnboundedTimeOutWaitsForASlowAnswer)
{
    LoopbackServer server;
    server.onGet("/slow", [](const httplib::Request&, httplib::Response& response) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        response.set_content("late", "text/plain");
    });
    for (double timeout : {std::numeric_limits<double>::infinity(), 1e300}) {
        SCOPED_TRACE(timeout);
        HttpRequest request;
        request.url = urlFor(server, "/slow");
        request.timeoutInterval = timeout;
        OneShot answer = send(request);
        EXPECT_FALSE(answer.error);
        EXPECT_EQ(answer.data, "late");
    }
}

TEST(CurlSession, DestroyingTheSessionCancelsItsTransfersAndWaitsForThem)
{
    LoopbackServer server;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> arrivedPromise;
    auto arrived = arrivedPromise.get_future();
    server.onGet("/slow", [&arrivedPromise, released](const httplib::Request&, httplib::Response& response) {
        arrivedPromise.set_value();
        released.wait_for(std::chrono::seconds(20));
        response.set_content("late", "text/plain");
    });
    HttpRequest request;
    request.url = urlFor(server, "/slow");
    std::promise<OneShot> promise;
    auto session = std::make_shared<CurlSession>();
    auto task = session->dataTask(request, [&promise](std::optional<std::string> data,
                                                      std::optional<HttpResponse> response, std::exception_ptr error) {
        promise.set_value({data, response, error});
    });
    task->resume();
    ASSERT_EQ(arrived.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    session.reset();

    auto answer = promise.get_future();
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_EQ(errorOf<TransportError>(answer.get().error).kind(), TransportError::Kind::cancelled);
    release.set_value();

    // A task of a session that is gone can no longer start: it completes at once, cancelled.
    std::promise<OneShot> late;
    auto orphan =
        CurlSession().dataTask(request, [&late](std::optional<std::string> data, std::optional<HttpResponse> response,
                                                std::exception_ptr error) {
            late.set_value({data, response, error});
        });
    orphan->resume();
    EXPECT_EQ(errorOf<TransportError>(late.get_future().get().error).kind(), TransportError::Kind::cancelled);
}

TEST(CurlSessionDeathTest, MapsLibcurlOnlyOnceItMakesATask)
{
    // In a process of its own: another test of this one may have loaded the transport already.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const bool atStart = mapsLibcurl();
            CurlSession session;
            const bool withSession = mapsLibcurl();
            HttpRequest request;
            request.url = "http://127.0.0.1:9/";
            const auto task = session.dataTask(request, [](auto&&...) {});
            std::_Exit(!atStart && !withSession && mapsLibcurl() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
