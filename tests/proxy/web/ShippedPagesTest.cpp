// The pages and the control panel as they ship: served by the real server,
// and the panel speaking the command grammar the server understands.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "support/LoopbackClient.h"
#include "support/TempFolder.h"
#include "web/CHttpServer.h"
#include "web/RequestPath.h"

namespace {

std::string Shipped(const std::string& relative) {
    std::ifstream in(std::string(MORVANE_DATA_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

TEST(ShippedPagesTest, ControlPanelIsAsciiAndHoldsNoClosingTag) {
    std::string panel = Shipped("Data/Control.html");
    ASSERT_FALSE(panel.empty());
    for (unsigned char c : panel) ASSERT_LT(c, 0x80) << "the panel must read right in any page encoding";
    // Later insertions go before the first closing tag of the page; one
    // inside the panel would pull them into the panel's script.
    for (const char* tag : {"</head>", "</body>", "</html>"}) EXPECT_EQ(panel.find(tag), std::string::npos) << tag;
    EXPECT_EQ(panel.find("<script"), panel.rfind("<script"));
}

TEST(ShippedPagesTest, ControlPanelCommandsFollowTheGrammar) {
    std::string panel = Shipped("Data/Control.html");
    // The panel builds "/zelk." + command + "?url=" + site.
    std::smatch m;
    ASSERT_TRUE(std::regex_search(panel, m, std::regex("\"/zelk\\.\" \\+ command \\+ \"(\\?[^\"]*)\"")));
    std::string query = m[1];
    std::set<std::string> commands;
    const std::regex action("\\[\"([a-z]+)\", \"");
    for (std::sregex_iterator it(panel.begin(), panel.end(), action), end; it != end; ++it)
        commands.insert((*it)[1]);
    EXPECT_EQ(commands, (std::set<std::string>{"black", "white", "noimg", "close"}));
    for (const auto& command : commands) {
        auto parsed = SplitSuffixAndParameter("/zelk." + command + query + "www.site.example");
        EXPECT_EQ(parsed.suffix, "." + command);
        EXPECT_EQ(parsed.parameter, "www.site.example") << "the site must start five characters after the ?";
    }
}

TEST(ShippedPagesTest, AnswerPagesAreServedForCommands) {
    testsupport::TempFolder folder(true);
    for (const char* page : {"www/OperationCompleted.html", "www/ShowUnlock.html", "www/param.js"})
        folder.Write(page, Shipped(page));
    folder.Write("Data/config.ini", "[Proxy]\nwhiteListLock=1\n");
    CProxyConfig config;
    config.LoadData();
    uint16_t port = testsupport::FreeLoopbackPort();
    CHttpServer server(port, "127.0.0.1", "www", nullptr, config);
    ASSERT_EQ(server.Listen(), 1);
    std::thread serving([&] { server.ServeRequests(); });
    auto ask = [&](const std::string& target) {
        testsupport::LoopbackClient c;
        if (!c.Connect(port) || !c.SendAll("GET " + target + " HTTP/1.1\r\n\r\n")) return std::string();
        return c.ReadUntilClosed(5000);
    };
    std::string done = ask("/zelk.black?url=a.example");
    EXPECT_EQ(done.rfind("HTTP/1.0 200 OK\nContent-Type: text/html\n", 0), 0u) << done.substr(0, 80);
    EXPECT_NE(done.find(Shipped("www/OperationCompleted.html")), std::string::npos);
    std::string locked = ask("/zelk.white?url=a.example");
    EXPECT_NE(locked.find(Shipped("www/ShowUnlock.html")), std::string::npos);
    std::string param = ask("/param.js");
    EXPECT_NE(param.find("Content-Type: application/x-javascript\n"), std::string::npos);
    std::smatch shippedPort;
    std::string shippedConfig = Shipped("Data/config.ini");
    ASSERT_TRUE(std::regex_search(shippedConfig, shippedPort, std::regex("\\nwebPort=(\\d+)")));
    EXPECT_NE(param.find("web_port: " + shippedPort[1].str() + ","), std::string::npos)
        << "param.js and config.ini name the same port";
    server.Stop();
    serving.join();
}
