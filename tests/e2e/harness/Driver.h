// The harness's side of octo_e2e_driver.exe: one request line out, one answer line back,
// each with a deadline, and typed calls on the windows the driver finds.
#ifndef OCTO_E2E_DRIVER_H
#define OCTO_E2E_DRIVER_H

#include "Process.h"

#include <cstdint>
#include <string>
#include <vector>

namespace octo::e2e {

// Message numbers a test needs beside the ids of its own program.
inline constexpr int kButtonClicked = 0;             // BN_CLICKED
inline constexpr std::uint32_t kScClose = 0xF060;    // SC_CLOSE
inline constexpr std::uint32_t kScMinimize = 0xF020; // SC_MINIMIZE
inline constexpr std::uint32_t kScRestore = 0xF120;  // SC_RESTORE
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
inline constexpr int kNoId = -1; // controls the template gives no id (0xFFFF)

class Driver {
public:
    // Takes over a started driver process and waits for its greeting.
    explicit Driver(ChildProcess process, Millis startTimeout);
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;
    ~Driver();

    // Sends one command; returns the answer's values, or throws E2eError with the reason.
    // The deadline covers the driver's own wait plus the round trip.
    std::vector<std::string> call(const std::string& command, Millis timeout = Millis{30000});

    // Ends the driver: "quit", then by PID if it does not go.
    void stop();

private:
    std::string readLine(Millis timeout);

    ChildProcess process_;
    std::string buffer_;
};

struct ControlClass {
    std::string name;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
};

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool contains(const Rect& r) const {
        return r.left >= left && r.top >= top && r.right <= right && r.bottom <= bottom;
    }
    bool overlaps(const Rect& r) const {
        return left < r.right && r.left < right && top < r.bottom && r.top < bottom;
    }
};

// One direct child window, in creation (z) order.
struct Child {
    int id = kNoId;
    std::string className;
    std::uint32_t style = 0;
    std::string text;
    Rect rect;                                                  // screen coordinates
    bool visible() const { return (style & 0x10000000u) != 0; } // WS_VISIBLE
};

struct ComboSelection {
    int index = -1;
    std::string text;
};

// The screen under a control: RRGGBB per pixel, rows from the top.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    // Whether `part` appears somewhere in this picture, pixel for pixel.
    bool contains(const Picture& part) const;
};

struct Progress {
    int position = 0, low = 0, high = 0;
};

struct MessageBoxContent {
    std::string title;
    std::string text;
    std::vector<std::pair<int, std::string>> buttons; // id, caption
};

// Whether the program's handler of an action had returned when the driver answered
// (Pending: it opened a modal box or is still working; the action is delivered either way).
enum class Outcome { Done, Pending };

// After a key: is the window still shown?
enum class AfterKey { Open, Closed };

// A top-level window of the program under test, addressed through the driver.
class Window {
public:
    Window(Driver& driver, std::uint32_t handle, std::uint32_t processId)
        : driver_(&driver), handle_(handle), processId_(processId) {}

    std::uint32_t handle() const { return handle_; }
    std::uint32_t processId() const { return processId_; }

    // Reading
    std::string caption() const;
    std::uint32_t style() const;
    std::uint32_t exStyle() const;
    Rect rect() const;
    std::vector<Child> children() const;
    std::string text(int id) const;
    int checkState(int id) const; // 0 unchecked, 1 checked, 2 indeterminate
    bool enabled(int id) const;
    bool visible(int id) const;
    std::string toolTip(int id) const; // the window's tooltip for the control; "" for none
    ControlClass controlClass(int id) const;
    Rect rect(int id) const;
    int comboCount(int id) const;
    std::vector<std::string> comboRows(int id) const;
    ComboSelection comboSelection(int id) const;
    Progress progress(int id) const;
    std::string pixel(int id) const; // "RRGGBB" on the screen at the control's centre
    Picture grab(int id) const;      // every pixel on the screen under the control
    int focusedId() const;           // 0 when the focus is outside this window
    bool exists() const;

    // Acting like an operator
    Outcome click(int id, Millis wait = Millis{1000});
    Outcome select(int id, int row, Millis wait = Millis{1000});
    Outcome select(int id, const std::string& rowText, Millis wait = Millis{1000});
    Outcome command(int id, int code = kButtonClicked, Millis wait = Millis{1000});
    void setText(int id, const std::string& text);
    void sysCommand(std::uint32_t command);
    void close();
    void focus(int id);
    AfterKey key(const std::string& chord); // waits until the program has handled it
    void keyNoWait(const std::string& chord);
    void waitGone(Millis timeout) const;

    // Another dialog box of the same process (message box, file dialog, sub-dialog).
    Window waitPopup(Millis timeout) const;

    // As a message box
    MessageBoxContent messageBox() const;
    void press(int buttonId);

    // As Wine's common file dialog
    void fileName(const std::string& windowsPath);
    void fileFilter(int index);

private:
    std::vector<std::string> call(const std::string& command, const std::string& args,
                                  Millis timeout = Millis{30000}) const;
    std::string ref(int id) const;

    Driver* driver_;
    std::uint32_t handle_;
    std::uint32_t processId_;
};

// Finds a visible top-level window by its exact title.
Window waitWindow(Driver& driver, const std::string& title, Millis timeout);

} // namespace octo::e2e

#endif
