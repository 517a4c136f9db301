#include "host/web_server.h"

namespace quillon {

std::unique_ptr<WebServer> StartWebServer(PanelHost&, const WebServerOptions&, std::string& error)
{
    error = "--http: the web server is not in this build " QUILLON_WEB_ABSENT;
    return nullptr;
}

} // namespace quillon
