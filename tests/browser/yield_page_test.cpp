// The yield report's page as a browser shows it: a generated log with one worn socket and
// one socket not in use, appended by the log's own writer, made into a page by octo816
// report, loaded by headless chromium from the file alone. Read from the page's DOM: the
// alarm names the worn socket and no other, each socket in use has its chart and the other
// none, and the change point stands on the worn socket's chart alone. With
// OCTO_REPORT_PICTURE set to a path, the page's picture is taken there as well
// (scripts/screenshots does, for the operator's guide).
#include "support/TempFolder.h"
#include "support/YieldLogs.h"
#include "trace/trace_log.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace octo {
namespace {

constexpr char kChromium[] = "/usr/bin/chromium";
constexpr int kWornSocket = 5;
constexpr int kUnusedSocket = 8;
// A hang guard for the browser, far beyond what it takes.
constexpr char kBrowserGuard[] = "timeout 120 ";

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// chromium headless on the file alone: its own profile folder, no sandbox for root.
std::string browser(const testing::TempFolder& folder, const std::string& what) {
    return std::string(kBrowserGuard) + kChromium + " --headless --disable-gpu " +
           (getuid() == 0 ? "--no-sandbox " : "") + "--user-data-dir=" + folder.file("profile") +
           " --host-resolver-rules='MAP * ~NOTFOUND' " + what + " 2>" + folder.file("browser.err");
}

// The fields of a line of the generated log (none of them holds a comma).
std::vector<std::string> fieldsOf(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, ',');) {
        fields.push_back(field);
    }
    return fields;
}

// Each socket chart of the DOM: its socket, and the change points drawn inside it.
std::map<int, int> changePointsByChart(const std::string& dom) {
    const std::regex chart(R"re(<svg [^>]*class="socket-trend"[^>]*>)re");
    const std::regex socket(R"re(data-socket="(\d+)")re");
    const std::regex changePoint(R"re(<line [^>]*class="change-point")re");
    std::map<int, int> charts;
    for (auto it = std::sregex_iterator(dom.begin(), dom.end(), chart);
         it != std::sregex_iterator(); ++it) {
        const std::string open = (*it)[0];
        std::smatch number;
        if (!std::regex_search(open, number, socket)) {
            ADD_FAILURE() << "a chart without its socket: " << open;
            continue;
        }
        const auto at = static_cast<size_t>(it->position());
        const std::string inside = dom.substr(at, dom.find("</svg>", at) - at);
        charts[std::stoi(number[1])] += static_cast<int>(
            std::distance(std::sregex_iterator(inside.begin(), inside.end(), changePoint),
                          std::sregex_iterator()));
    }
    return charts;
}

TEST(YieldReportPage, TheAlarmInTheBrowsersDomNamesTheWornSocketAlone) {
    if (!std::filesystem::exists(kChromium)) {
        GTEST_SKIP() << "chromium is not installed (scripts/setup installs it)";
    }
    const testing::TempFolder folder("octo_yield_page");
    const std::string log = folder.file("line1.csv");
    std::istringstream generated(
        testing::lineLog({.runs = 2400, .wornSocket = kWornSocket, .wornFrom = 2000, .seed = 3}));
    std::vector<std::string> lines;
    std::string line;
    std::getline(generated, line); // the writer puts its own header
    // The station has socket kUnusedSocket out of use: the writer gives it no line.
    const std::vector<std::string> header = fieldsOf(line);
    const auto target =
        static_cast<size_t>(std::find(header.begin(), header.end(), "target") - header.begin());
    while (std::getline(generated, line)) {
        if (fieldsOf(line).at(target) != std::to_string(kUnusedSocket)) {
            lines.push_back(line + "\n");
        }
    }
    ASSERT_EQ(trace::appendLines(log, lines), trace::LogWrite::Written);

    const std::string page = folder.file("report.html");
    ASSERT_EQ(std::system((std::string(OCTO816_PATH) + " report --out " + page + " " + log + " >" +
                           folder.file("report.out"))
                              .c_str()),
              0);
    const std::string dom = folder.file("dom.html");
    ASSERT_EQ(std::system(browser(folder, "--dump-dom file://" + page + " >" + dom).c_str()), 0)
        << fileText(folder.file("browser.err"));

    const std::string text = fileText(dom);
    const std::regex alarm(R"re(<li class="alarm"[^>]*data-socket="(\d+)")re");
    std::multiset<int> named;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), alarm);
         it != std::sregex_iterator(); ++it) {
        named.insert(std::stoi((*it)[1]));
    }
    EXPECT_EQ(named, std::multiset<int>{kWornSocket}) << text;
    // A chart for each socket in use, none for the other; the change point on the worn
    // socket's chart alone.
    std::map<int, int> expected;
    for (int socket = 1; socket <= 8; ++socket) {
        if (socket != kUnusedSocket) {
            expected[socket] = socket == kWornSocket ? 1 : 0;
        }
    }
    EXPECT_EQ(changePointsByChart(text), expected) << text;
    // Self-contained: nothing for the browser to fetch or run.
    EXPECT_EQ(text.find(" src="), std::string::npos);
    EXPECT_EQ(text.find(" href="), std::string::npos);
    EXPECT_EQ(text.find("<script"), std::string::npos);

    if (const char* picture = std::getenv("OCTO_REPORT_PICTURE")) {
        EXPECT_EQ(std::system(browser(folder, "--hide-scrollbars --window-size=1200,1600 "
                                              "--screenshot=" +
                                                  std::string(picture) + " file://" + page)
                                  .c_str()),
                  0)
            << fileText(folder.file("browser.err"));
    }
}

} // namespace
} // namespace octo
