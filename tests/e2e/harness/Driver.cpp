#include "Driver.h"

#include "protocol/LineProtocol.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace octo::e2e {

namespace {

constexpr Millis kQuitGrace{2000};
// Added to a command's own wait for the round trip through Wine.
constexpr Millis kRoundTripMargin{10000};
// What an action may spend waiting for its control to be usable, before its own wait.
constexpr Millis kUsableWait{kUsableWaitMs};
// The driver's own waits in the focus command: for the foreground, the focus message to be
// answered and the focus to arrive.
constexpr Millis kFocusWaits{30000};

std::int64_t toNumber(const std::string& token, const std::string& command) {
    const auto value = parseNumber(token);
    if (!value)
        throw E2eError("driver answered '" + token + "' to '" + command + "', not a number");
    return *value;
}

std::string ms(Millis m) {
    return std::to_string(m.count());
}

} // namespace

Driver::Driver(ChildProcess process, Millis startTimeout) : process_(std::move(process)) {
    const std::string greeting = readLine(startTimeout);
    if (greeting != "OK ready")
        throw E2eError("the driver did not start: '" + greeting + "'");
}

Driver::~Driver() {
    stop();
}

void Driver::stop() {
    if (!process_.started())
        return;
    if (process_.stdinFd() >= 0 && process_.running()) {
        const std::string quit = "quit\n";
        [[maybe_unused]] auto ignored = write(process_.stdinFd(), quit.data(), quit.size());
        process_.closeStdin();
        process_.waitExit(kQuitGrace);
    }
    process_.stop(kQuitGrace);
}

std::string Driver::readLine(Millis timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        const auto newline = buffer_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffer_.substr(0, newline);
            buffer_.erase(0, newline + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        const auto left =
            std::chrono::duration_cast<Millis>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            throw E2eError("the driver did not answer within " + ms(timeout) + " ms");
        pollfd p{process_.stdoutFd(), POLLIN, 0};
        const int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            continue;
        char chunk[4096];
        const ssize_t got = read(process_.stdoutFd(), chunk, sizeof chunk);
        if (got <= 0)
            throw E2eError("the driver ended (its output closed)");
        buffer_.append(chunk, static_cast<std::size_t>(got));
    }
}

std::vector<std::string> Driver::call(const std::string& command, Millis timeout) {
    if (!process_.running())
        throw E2eError("the driver is not running");
    const std::string line = command + "\n";
    if (write(process_.stdinFd(), line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        throw E2eError(std::string("writing to the driver failed: ") + std::strerror(errno));
    const std::string reply = readLine(timeout + kRoundTripMargin);
    std::string error;
    auto tokens = splitTokens(reply, error);
    if (!tokens || tokens->empty())
        throw E2eError("malformed driver answer '" + reply + "' to '" + command + "'");
    if (tokens->front() == "ERR")
        throw E2eError("'" + command + "' failed: " + (tokens->size() > 1 ? (*tokens)[1] : ""));
    if (tokens->front() != "OK")
        throw E2eError("malformed driver answer '" + reply + "' to '" + command + "'");
    tokens->erase(tokens->begin());
    return *tokens;
}

Window waitWindow(Driver& driver, const std::string& title, Millis timeout) {
    const std::string command = "wait_window " + quote(title) + " " + ms(timeout);
    const auto values = driver.call(command, timeout);
    if (values.size() != 2)
        throw E2eError("unexpected answer to '" + command + "'");
    return Window(driver, static_cast<std::uint32_t>(toNumber(values[0], command)),
                  static_cast<std::uint32_t>(toNumber(values[1], command)));
}

std::vector<std::string> Window::call(const std::string& command, const std::string& args,
                                      Millis timeout) const {
    std::string line = command + " " + hex32(handle_);
    if (!args.empty())
        line += " " + args;
    return driver_->call(line, timeout);
}

std::string Window::ref(int id) const {
    return std::to_string(id);
}

namespace {

const std::string& one(const std::vector<std::string>& values, const std::string& what) {
    if (values.empty())
        throw E2eError("the driver gave no value for " + what);
    return values.front();
}

Rect rectFrom(const std::vector<std::string>& v, std::size_t at, const std::string& what) {
    if (v.size() < at + 4)
        throw E2eError("the driver gave no rectangle for " + what);
    return Rect{
        static_cast<int>(toNumber(v[at], what)), static_cast<int>(toNumber(v[at + 1], what)),
        static_cast<int>(toNumber(v[at + 2], what)), static_cast<int>(toNumber(v[at + 3], what))};
}

Outcome outcome(const std::vector<std::string>& values) {
    return !values.empty() && values.front() == "pending" ? Outcome::Pending : Outcome::Done;
}

} // namespace

std::string Window::caption() const {
    return one(call("caption", ""), "caption");
}

std::uint32_t Window::style() const {
    return static_cast<std::uint32_t>(toNumber(one(call("wstyle", ""), "style"), "wstyle"));
}

std::uint32_t Window::exStyle() const {
    const auto v = call("wstyle", "");
    if (v.size() < 2)
        throw E2eError("malformed answer to 'wstyle'");
    return static_cast<std::uint32_t>(toNumber(v[1], "wstyle"));
}

Rect Window::rect() const {
    return rectFrom(call("wrect", ""), 0, "wrect");
}

std::vector<Child> Window::children() const {
    const auto v = call("children", "");
    const std::size_t count = static_cast<std::size_t>(toNumber(one(v, "children"), "children"));
    constexpr std::size_t kFields = 8;
    if (v.size() != 1 + count * kFields)
        throw E2eError("malformed answer to 'children'");
    std::vector<Child> children;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = 1 + i * kFields;
        Child c;
        c.id = static_cast<int>(toNumber(v[at], "children"));
        c.className = v[at + 1];
        c.style = static_cast<std::uint32_t>(toNumber(v[at + 2], "children"));
        c.text = v[at + 3];
        c.rect = rectFrom(v, at + 4, "children");
        children.push_back(std::move(c));
    }
    return children;
}

std::string Window::text(int id) const {
    return one(call("text", ref(id)), "text");
}

std::string Window::toolTip(int id) const {
    return one(call("tooltip", ref(id)), "tooltip");
}

int Window::checkState(int id) const {
    return static_cast<int>(toNumber(one(call("check", ref(id)), "check"), "check"));
}

bool Window::enabled(int id) const {
    return one(call("enabled", ref(id)), "enabled") == "1";
}

bool Window::visible(int id) const {
    return one(call("visible", ref(id)), "visible") == "1";
}

ControlClass Window::controlClass(int id) const {
    const auto v = call("class", ref(id));
    if (v.size() != 3)
        throw E2eError("malformed answer to 'class'");
    return ControlClass{v[0], static_cast<std::uint32_t>(toNumber(v[1], "class")),
                        static_cast<std::uint32_t>(toNumber(v[2], "class"))};
}

Rect Window::rect(int id) const {
    return rectFrom(call("rect", ref(id)), 0, "rect");
}

int Window::comboCount(int id) const {
    return static_cast<int>(
        toNumber(one(call("combo_count", ref(id)), "combo_count"), "combo_count"));
}

std::vector<std::string> Window::comboRows(int id) const {
    auto v = call("combo_rows", ref(id));
    const auto count = static_cast<std::size_t>(toNumber(one(v, "combo_rows"), "combo_rows"));
    if (v.size() != count + 1)
        throw E2eError("malformed answer to 'combo_rows'");
    return std::vector<std::string>(v.begin() + 1, v.end());
}

ComboSelection Window::comboSelection(int id) const {
    const auto v = call("combo_sel", ref(id));
    if (v.size() != 2)
        throw E2eError("malformed answer to 'combo_sel'");
    return ComboSelection{static_cast<int>(toNumber(v[0], "combo_sel")), v[1]};
}

Progress Window::progress(int id) const {
    const auto v = call("progress", ref(id));
    if (v.size() != 3)
        throw E2eError("malformed answer to 'progress'");
    return Progress{static_cast<int>(toNumber(v[0], "progress")),
                    static_cast<int>(toNumber(v[1], "progress")),
                    static_cast<int>(toNumber(v[2], "progress"))};
}

std::string Window::pixel(int id) const {
    return one(call("pixel", ref(id)), "pixel");
}

Picture Window::grab(int id) const {
    const auto v = call("grab", ref(id));
    if (v.size() != 3)
        throw E2eError("malformed answer to 'grab'");
    Picture p;
    p.width = static_cast<int>(toNumber(v[0], "grab"));
    p.height = static_cast<int>(toNumber(v[1], "grab"));
    constexpr std::size_t kDigitsPerPixel = 6;
    const std::string& hex = v[2];
    if (p.width <= 0 || p.height <= 0 ||
        hex.size() != static_cast<std::size_t>(p.width) * p.height * kDigitsPerPixel)
        throw E2eError("malformed answer to 'grab'");
    constexpr int kHexBase = 16;
    for (std::size_t at = 0; at < hex.size(); at += kDigitsPerPixel)
        p.pixels.push_back(static_cast<std::uint32_t>(
            std::stoul(hex.substr(at, kDigitsPerPixel), nullptr, kHexBase)));
    return p;
}

bool Picture::contains(const Picture& part) const {
    for (int top = 0; top + part.height <= height; ++top)
        for (int left = 0; left + part.width <= width; ++left) {
            bool same = true;
            for (int y = 0; y < part.height && same; ++y)
                for (int x = 0; x < part.width && same; ++x)
                    same = at(left + x, top + y) == part.at(x, y);
            if (same)
                return true;
        }
    return false;
}

int Window::focusedId() const {
    return static_cast<int>(toNumber(one(call("focused", ""), "focused"), "focused"));
}

bool Window::exists() const {
    return one(driver_->call("exists " + hex32(handle_)), "exists") == "1";
}

Outcome Window::click(int id, Millis wait) {
    return outcome(call("click", ref(id) + " " + ms(wait), wait + kUsableWait));
}

Outcome Window::select(int id, int row, Millis wait) {
    return outcome(
        call("select", ref(id) + " " + std::to_string(row) + " " + ms(wait), wait + kUsableWait));
}

Outcome Window::select(int id, const std::string& rowText, Millis wait) {
    const auto rows = comboRows(id);
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i] == rowText)
            return select(id, static_cast<int>(i), wait);
    throw E2eError("list " + std::to_string(id) + " has no row " + quote(rowText));
}

Outcome Window::command(int id, int code, Millis wait) {
    return outcome(call("command", ref(id) + " " + std::to_string(code) + " " + ms(wait), wait));
}

void Window::setText(int id, const std::string& text) {
    call("settext", ref(id) + " " + quote(text));
}

void Window::sysCommand(std::uint32_t command) {
    call("syscommand", hex32(command));
}

void Window::close() {
    call("close", "");
}

void Window::focus(int id) {
    call("focus", ref(id), kFocusWaits + kUsableWait);
}

AfterKey Window::key(const std::string& chord) {
    const auto v = call("key", quote(chord) + " sync", Millis{30000} + kUsableWait);
    return one(v, "key") == "closed" ? AfterKey::Closed : AfterKey::Open;
}

void Window::keyNoWait(const std::string& chord) {
    call("key", quote(chord) + " nosync", Millis{30000} + kUsableWait);
}

void Window::waitGone(Millis timeout) const {
    driver_->call("wait_gone " + hex32(handle_) + " " + ms(timeout), timeout);
}

Window Window::waitPopup(Millis timeout) const {
    const std::string command =
        "wait_popup " + std::to_string(processId_) + " " + ms(timeout) + " " + hex32(handle_);
    const auto v = driver_->call(command, timeout);
    if (v.size() != 2)
        throw E2eError("malformed answer to 'wait_popup'");
    return Window(*driver_, static_cast<std::uint32_t>(toNumber(v[0], command)), processId_);
}

MessageBoxContent Window::messageBox() const {
    const auto v = call("msgbox", "");
    if (v.size() < 3)
        throw E2eError("malformed answer to 'msgbox'");
    MessageBoxContent box{v[0], v[1], {}};
    const auto count = static_cast<std::size_t>(toNumber(v[2], "msgbox"));
    if (v.size() != 3 + 2 * count)
        throw E2eError("malformed answer to 'msgbox'");
    for (std::size_t i = 0; i < count; ++i)
        box.buttons.emplace_back(static_cast<int>(toNumber(v[3 + 2 * i], "msgbox")), v[4 + 2 * i]);
    return box;
}

void Window::press(int buttonId) {
    call("press", std::to_string(buttonId));
}

void Window::fileName(const std::string& windowsPath) {
    call("file_name", quote(windowsPath));
}

void Window::fileFilter(int index) {
    call("file_filter", std::to_string(index));
}

} // namespace octo::e2e
