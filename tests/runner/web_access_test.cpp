#include "host/web_access.h"

#include <gtest/gtest.h>

namespace quillon::runner {
namespace {

TEST(WebAccessTest, HostTokenAndOriginDecideWhoIsServed)
{
    const WebAccess loopback("", 8080);
    const WebAccess guarded("s3cret", 8080);
    const struct {
        const char* what;
        const WebAccess& access;
        WebRequest request;
        int status;
    } cases[] = {
        {"loopback by address", loopback, {"/", "127.0.0.1:8080", "", "", false}, 0},
        {"loopback by name", loopback, {"/text", "localhost:8080", "", "", false}, 0},
        {"loopback over IPv6", loopback, {"/", "[::1]:8080", "", "", false}, 0},
        {"a DNS name of another site", loopback, {"/", "evil.example:8080", "", "", false}, 403},
        {"the wrong port", loopback, {"/", "127.0.0.1:9090", "", "", false}, 403},
        {"no Host", loopback, {"/", "", "", "", false}, 403},
        {"the page's own WebSocket", loopback, {"/ws", "127.0.0.1:8080", "http://127.0.0.1:8080", "", true}, 0},
        {"a script's WebSocket, no Origin", loopback, {"/ws", "127.0.0.1:8080", "", "", true}, 0},
        {"another site's WebSocket", loopback, {"/ws", "127.0.0.1:8080", "http://evil.example", "", true}, 403},
        {"no token", guarded, {"/", "bench:8080", "", "", false}, 401},
        {"the token in the address", guarded, {"/?token=s3cret", "bench:8080", "", "", false}, 0},
        {"a wrong token", guarded, {"/?token=s3cre", "bench:8080", "", "", false}, 401},
        {"a longer token", guarded, {"/?token=s3cretX", "bench:8080", "", "", false}, 401},
        {"the token as a header", guarded, {"/text", "bench:8080", "", "Bearer s3cret", false}, 0},
        {"a wrong header", guarded, {"/text", "bench:8080", "", "Basic s3cret", false}, 401},
        {"token but another origin", guarded, {"/ws?token=s3cret", "bench:8080", "http://x:1", "", true}, 403},
    };
    for (const auto& c : cases) {
        const auto refusal = c.access.Check(c.request);
        EXPECT_EQ(refusal ? refusal->status : 0, c.status) << c.what;
    }
}

TEST(WebAccessTest, QueriesAndAddresses)
{
    EXPECT_EQ(QueryValue("/screenshot.png?scale=3&token=a%2Bb", "token"), "a+b");
    EXPECT_EQ(QueryValue("/screenshot.png?scale=3", "scale"), "3");
    EXPECT_EQ(QueryValue("/screenshot.png?scale", "scale"), "");
    EXPECT_EQ(QueryValue("/screenshot.png?x=1%", "x"), "1%");
    EXPECT_FALSE(QueryValue("/text", "token"));
    EXPECT_EQ(TargetPath("/text?token=1"), "/text");
    EXPECT_TRUE(IsLoopbackAddress("127.0.0.1"));
    EXPECT_TRUE(IsLoopbackAddress("localhost"));
    EXPECT_FALSE(IsLoopbackAddress("0.0.0.0"));
    const std::string token = MakeWebToken();
    EXPECT_EQ(token.size(), 32u);
    EXPECT_NE(token, MakeWebToken());
}

} // namespace
} // namespace quillon::runner
