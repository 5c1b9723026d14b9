#include "aiclient/OpenAI.h"
#include "sqlite/Connection.h"

int main()
{
    auto connection = sqlite::Connection::openPath(":memory:");
    aiclient::OpenAI client(aiclient::Configuration::standard("token"));
    return client.configuration().port() == 443 ? 0 : 1;
}
