#include "FetchPage.h"
#include "Network.h"

#include "Gzip.h"
#include "LoopbackServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <cstdio>
#include <string>
#include <vector>

using namespace vantorel;

using namespace std::chrono_literals;
using Connection = LoopbackServer::Connection;

namespace {

void SendChunked(Connection &connection, const std::string &body)
{
    if (!connection.send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"))
        return;
    constexpr size_t kChunk = 4096;
    for (size_t at = 0; at < body.size(); at += kChunk) {
        const std::string piece = body.substr(at, kChunk);
        char size[16];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        if (!connection.send(size) || !connection.send(piece) || !connection.send("\r\n"))
            return;
    }
    connection.send("0\r\n\r\n");
}

std::string Text(const std::optional<QString> &page)
{
    return page ? page->toStdString() : "<failure>";
}

} // namespace

TEST(FetchPage, ReturnsTheBodyWhateverTheStatus)
{
    LoopbackServer server(LoopbackServer::Pages({
        {"/gbk", {200, "\xD6\xD0\xCE\xC4 page", ""}},
        {"/utf8", {200, "\xE4\xB8\xAD\xE6\x96\x87 page", ""}},
        {"/utf8-said", {200, "\xE4\xB8\xAD\xE6\x96\x87 page", "Content-Type: text/html; charset=utf-8\r\n"}},
        // The Content-Type of the page reached counts, not that of the redirect.
        {"/moved", {302, "", "Location: /utf8-said\r\nContent-Type: text/html; charset=big5\r\n"}},
        {"/missing", {404, "no such page", ""}},
        {"/broken", {500, "server trouble", ""}},
        {"/empty", {200, "", ""}},
    }));

    const struct {
        const char *path;
        const char16_t *charset;
        const char *expected;
    } cases[] = {
        {"/gbk", u"gb2312", "\xE4\xB8\xAD\xE6\x96\x87 page"},
        {"/utf8", u"UTF-8", "\xE4\xB8\xAD\xE6\x96\x87 page"},
        {"/utf8-said", u"gb2312", "\xE4\xB8\xAD\xE6\x96\x87 page"},
        {"/moved", u"gb2312", "\xE4\xB8\xAD\xE6\x96\x87 page"},
        {"/missing", u"gb2312", "no such page"},
        {"/broken", u"gb2312", "server trouble"},
        {"/empty", u"gb2312", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Text(FetchPage(server.url(c.path), c.charset)), c.expected) << c.path;
}

TEST(FetchPage, SendsOneBodilessGetWithTheXmlContentType)
{
    LoopbackServer server(LoopbackServer::Pages({{"/", {200, "ok", ""}}}));
    ASSERT_TRUE(FetchOnce(server.url("/")).ok());

    ASSERT_EQ(server.requestCount(), 1);
    const std::string head = server.requests().front();
    EXPECT_EQ(head.substr(0, head.find("\r\n")), "GET / HTTP/1.1");
    EXPECT_EQ(LoopbackServer::HeaderValues(head, "Content-Type"), std::vector<std::string>{"text/XML"});
    EXPECT_TRUE(LoopbackServer::HeaderValues(head, "Content-Length").empty());
    EXPECT_TRUE(LoopbackServer::HeaderValues(head, "Transfer-Encoding").empty());
    EXPECT_EQ(head.size(), head.find("\r\n\r\n") + 4) << "bytes after the head";
    const std::vector<std::string> agent = LoopbackServer::HeaderValues(head, "User-Agent");
    ASSERT_EQ(agent.size(), 1u);
    EXPECT_EQ(agent.front().rfind("Mozilla/5.0 (", 0), 0u) << agent.front();
}

TEST(FetchPage, FollowsUpToTenRedirects)
{
    // /chain/<hops>/<n> redirects to /chain/<hops>/<n+1> until n reaches hops.
    const LoopbackServer::Handler chain = [](Connection &connection) {
        int hops = 0;
        int n = 0;
        if (std::sscanf(connection.path().c_str(), "/chain/%d/%d", &hops, &n) != 2) {
            connection.respond(404, "bad path");
        } else if (n < hops) {
            const std::string next = "/chain/" + std::to_string(hops) + "/" + std::to_string(n + 1);
            connection.respond(302, "moved", "Location: " + next + "\r\n");
        } else {
            connection.respond(200, "end of chain");
        }
    };

    for (const int hops : {1, 10, 11}) {
        LoopbackServer server(chain);
        const std::optional<QString> page =
            FetchPage(server.url("/chain/" + std::to_string(hops) + "/0"), u"gb2312");
        if (hops <= 10) {
            EXPECT_EQ(Text(page), "end of chain") << hops << " hops";
            EXPECT_EQ(server.requestCount(), hops + 1);
            for (const std::string &head : server.requests())
                EXPECT_EQ(LoopbackServer::HeaderValues(head, "Content-Type"), std::vector<std::string>{"text/XML"});
        } else {
            EXPECT_EQ(Text(page), "<failure>") << hops << " hops";
        }
    }
}

TEST(FetchPage, RefusesRedirectsOutOfHttp)
{
    std::atomic<int> connections{0};
    {
        LoopbackServer server([&](Connection &connection) {
            ++connections;
            if (connection.path() == "/to-file")
                connection.respond(302, "moved", "Location: file:///etc/passwd\r\n");
            else if (connection.path() == "/to-ftp")
                connection.respond(302, "moved",
                                   "Location: ftp://127.0.0.1:" + std::to_string(server.port()) + "/\r\n");
        });
        FetchLimits limits;
        limits.totalTimeout = 2s; // an ftp client would wait for a greeting that never comes
        EXPECT_FALSE(FetchOnce(server.url("/to-file"), limits).ok());
        EXPECT_FALSE(FetchOnce(server.url("/to-ftp"), limits).ok());
    }
    EXPECT_EQ(connections, 2) << "the ftp redirect was followed";
}

TEST(FetchPage, RefusesUnknownSchemesWithoutConnecting)
{
    std::atomic<int> connections{0};
    {
        LoopbackServer server([&](Connection &connection) {
            ++connections;
            connection.respond(200, "should not be asked");
        });
        const std::string port = std::to_string(server.port());
        for (const std::string &url : {"ftp://127.0.0.1:" + port + "/", std::string("file:///etc/passwd")})
            EXPECT_FALSE(FetchOnce(QString::fromStdString(url)).ok()) << url;
    }
    EXPECT_EQ(connections, 0);
}

TEST(FetchPage, CapsTheBodyWithOrWithoutALength)
{
    FetchLimits limits;
    limits.maxBodyBytes = 64 * 1024;
    const std::string atCap(64 * 1024, 'a');
    const std::string overCap = atCap + "b";

    LoopbackServer server([&](Connection &connection) {
        const std::string path = connection.path();
        const std::string &body = path.ends_with("/over") ? overCap : atCap;
        if (path.starts_with("/chunked"))
            SendChunked(connection, body);
        else
            connection.respond(200, body);
    });

    for (const char *kind : {"/length", "/chunked"}) {
        const FetchResult full = FetchOnce(server.url(std::string(kind) + "/at"), limits);
        ASSERT_TRUE(full.ok()) << kind;
        EXPECT_EQ(full.body.size(), limits.maxBodyBytes) << kind;
        EXPECT_FALSE(FetchOnce(server.url(std::string(kind) + "/over"), limits).ok()) << kind;
    }
}

// A body takes the room it needs, with or without a length announced, never the whole cap:
// that would be 16 MiB for each page in flight.
TEST(FetchPage, HoldsTheBodyInTheRoomItNeeds)
{
    const std::string body(20'000, 'x');
    LoopbackServer server([&](Connection &connection) {
        if (connection.path() == "/chunked")
            SendChunked(connection, body);
        else if (connection.path() == "/gzip")
            connection.respond(200, Gzip(body), "Content-Encoding: gzip\r\n");
        else
            connection.respond(200, body);
    });
    for (const char *path : {"/length", "/chunked", "/gzip"}) {
        const FetchResult result = FetchOnce(server.url(path));
        ASSERT_EQ(result.body.size(), 20'000) << path;
        EXPECT_LE(result.body.capacity(), 2 * 20'000) << path;
    }
}

// A body inflated past the cap fails: FetchEngineTest's table of how fetches end.
TEST(FetchPage, DecodesGzipBodies)
{
    std::string page;
    while (page.size() < 60 * 1024)
        page += "<li>compressed line " + std::to_string(page.size()) + "</li>\n";
    LoopbackServer server(LoopbackServer::Pages({{"/page", {200, Gzip(page), "Content-Encoding: gzip\r\n"}}}));
    const FetchResult result = FetchOnce(server.url("/page"));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.body.toStdString(), page);
}

TEST(FetchPage, SendsNonAsciiAndSpacesPercentEncoded)
{
    const std::string encoded = "/%E6%90%9C%E7%B4%A2%20%09?q=%E4%B8%AD%E6%96%87";
    LoopbackServer server(LoopbackServer::Pages({{encoded, {200, "found", ""}}}));
    const QString url = server.url("/") + QString::fromStdU16String(u"\u641C\u7D22 \t?q=\u4E2D\u6587");
    EXPECT_EQ(Text(FetchPage(url, u"gb2312")), "found");
    ASSERT_EQ(server.requestCount(), 1);
    const std::string head = server.requests().front();
    EXPECT_EQ(head.substr(0, head.find("\r\n")), "GET " + encoded + " HTTP/1.1");
}

TEST(FetchPage, UrlForRequestEncodesOnlyWhatCannotStandInARequest)
{
    const struct {
        const char16_t *url;
        const char *expected;
    } cases[] = {
        {u"http://h/a?x=%41&y=~#top!$'()*+,;=:@[]", "http://h/a?x=%41&y=~#top!$'()*+,;=:@[]"},
        {u"http://h/a b", "http://h/a%20b"},
        {u"http://h/\t\r\n\u0001\u001F\u007F", "http://h/%09%0D%0A%01%1F%7F"},
        {u"http://h/\u0080", "http://h/%C2%80"},
        {u"http://h/\u00E9", "http://h/%C3%A9"},
        {u"http://h/?q=\u4E2D", "http://h/?q=%E4%B8%AD"},
        {u"http://h/\U0001F600", "http://h/%F0%9F%98%80"},
        {u"http://\u00FC.example/", "http://%C3%BC.example/"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UrlForRequest(QString::fromUtf16(c.url)).toStdString(), c.expected);
}

// The user's file wins over the library's, and a directory, which costs a parse of the whole
// store for every connection, is used only when asked for without a file of the user's, or when
// the library has no file.
TEST(FetchPage, ChoosesTheCertificateStore)
{
    const CaStore debian{"/etc/ssl/certs/ca-certificates.crt", "/etc/ssl/certs"};
    const struct {
        const char *what;
        std::map<std::string, QByteArray> environment;
        CaStore library;
        CaStore expected;
    } cases[] = {
        {"nothing set", {}, debian, {debian.file, {}}},
        {"CURL_CA_BUNDLE", {{"CURL_CA_BUNDLE", "/mine.pem"}, {"SSL_CERT_FILE", "/other.pem"}, {"SSL_CERT_DIR", "/my/certs"}},
         debian, {"/mine.pem", {}}},
        {"SSL_CERT_FILE", {{"SSL_CERT_FILE", "/other.pem"}, {"SSL_CERT_DIR", "/my/certs"}}, debian, {"/other.pem", {}}},
        {"SSL_CERT_DIR", {{"SSL_CERT_DIR", "/my/certs"}}, debian, {debian.file, "/my/certs"}},
        {"a library with a directory only", {}, {{}, "/etc/ssl/certs"}, {{}, "/etc/ssl/certs"}},
        {"a file and a library with a directory only", {{"SSL_CERT_FILE", "/other.pem"}}, {{}, "/etc/ssl/certs"},
         {"/other.pem", {}}},
    };
    for (const auto &c : cases) {
        const auto environment = [&](const char *name) {
            const auto found = c.environment.find(name);
            return found == c.environment.end() ? QByteArray() : found->second;
        };
        const CaStore chosen = ChooseCaStore(c.library, environment);
        EXPECT_EQ(chosen.file.toStdString(), c.expected.file.toStdString()) << c.what;
        EXPECT_EQ(chosen.directory.toStdString(), c.expected.directory.toStdString()) << c.what;
    }
}
