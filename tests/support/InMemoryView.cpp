#include "support/InMemoryView.h"

#include "app/StringTable.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <stdexcept>

namespace octo::testing {

namespace {

constexpr int kBitmapHandleBase = 0x10000;
constexpr int kControlHandleBase = 0x20000;
constexpr uintptr_t kIconHandle = 0x30000;

// The standard system menu of a window with a minimise box.
const std::vector<MenuItem> kStandardMenu = {
    {0xF120, "&Restore", true},           {0xF010, "&Move", true},
    {sc::kSize, "&Size", true},           {0xF020, "Mi&nimize", true},
    {sc::kMaximize, "Ma&ximize", true},   {0, "", true},
    {sc::kClose, "&Close\tAlt+F4", true},
};

bool lessCaseInsensitive(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
}

bool isList(ControlKind kind) {
    return kind == ControlKind::DropDownList || kind == ControlKind::SortedDropDownList;
}

// Runs a sub-dialog on its own in-memory view: the dialog fills it, the test's operator
// acts on it, and Escape closes what the operator left open.
class InMemoryDialogWindow final : public DialogWindow {
public:
    InMemoryDialogWindow(const DialogTemplate& dialog, EventLog* log,
                         InMemoryView::DialogOperator op)
        : template_(dialog), view_(dialog, log), operator_(std::move(op)) {}

    DialogView& view() override { return view_; }

    int runModal(DialogHandler& handler) override {
        // Only button clicks are commands, as on Win32.
        view_.connect({[&handler](int id, int code) {
                           if (code == 0) {
                               handler.onCommand(id);
                           }
                       },
                       {},
                       [&handler] { handler.onCommand(mb::kIdCancel); }});
        if (handler.onInitDialog()) {
            giveFocusToFirstControl();
        }
        if (operator_) {
            operator_(view_);
        }
        if (!view_.ended()) {
            handler.onCommand(mb::kIdCancel);
        }
        return view_.ended() ? view_.endResult() : mb::kIdCancel;
    }

private:
    void giveFocusToFirstControl() {
        for (const ControlTemplate& c : template_.controls) {
            if (c.id != kNoControlId && hasTabStop(c.kind)) {
                view_.setFocus(c.id);
                return;
            }
        }
    }

    const DialogTemplate& template_;
    InMemoryView view_;
    InMemoryView::DialogOperator operator_;
};

} // namespace

InMemoryView::InMemoryView(EventLog* log) : log_(log), menu_(kStandardMenu) {
    caption_ = "ZEL816 FLASH Octo Programmer";
    addControls(mainDialogControls());
    for (const InitialList& list : mainDialogInitialLists()) {
        setListRows(list.id, list.rows);
    }
}

InMemoryView::InMemoryView(const DialogTemplate& dialog, EventLog* log)
    : log_(log), caption_(dialog.caption), menu_(kStandardMenu) {
    addControls(dialog.controls);
}

void InMemoryView::addControls(std::span<const ControlTemplate> controls) {
    int group = 0;
    for (const ControlTemplate& t : controls) {
        if (t.kind == ControlKind::RadioButton && t.firstOfGroup) {
            ++group;
        }
        if (t.id == kNoControlId) {
            continue;
        }
        Control c;
        c.kind = t.kind;
        c.text = t.text;
        c.visible = t.visible;
        c.group = t.kind == ControlKind::RadioButton ? group : 0;
        controls_[t.id] = c;
    }
}

std::unique_ptr<DialogWindow> InMemoryView::createDialog(int templateId) {
    const DialogTemplate* dialog = subDialogTemplate(templateId);
    if (!dialog) {
        throw std::invalid_argument("no sub-dialog template " + std::to_string(templateId));
    }
    openedDialogs_.push_back(templateId);
    note("createDialog " + std::to_string(templateId));
    DialogOperator op;
    if (!operators_.empty()) {
        op = std::move(operators_.front());
        operators_.pop_front();
    }
    return std::make_unique<InMemoryDialogWindow>(*dialog, log_, std::move(op));
}

void InMemoryView::note(const std::string& event) const {
    if (log_) {
        log_->add(event);
    }
}

InMemoryView::Control* InMemoryView::find(int id) {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : &found->second;
}

const InMemoryView::Control* InMemoryView::find(int id) const {
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : &found->second;
}

ControlKind InMemoryView::kind(int id) const {
    const Control* c = find(id);
    return c ? c->kind : ControlKind::Label;
}

void InMemoryView::click(int id) {
    Control* c = find(id);
    if (!c || !c->enabled || !c->visible) {
        return;
    }
    // Auto check boxes flip and auto radio buttons take the group's check before the
    // dialog hears of the click.
    if (c->kind == ControlKind::CheckBox) {
        c->checked = !c->checked;
    } else if (c->kind == ControlKind::RadioButton) {
        for (auto& [otherId, other] : controls_) {
            if (other.kind == ControlKind::RadioButton && other.group == c->group) {
                other.checked = false;
            }
        }
        c->checked = true;
    }
    if (sink_.command) {
        sink_.command(id, 0);
    }
}

void InMemoryView::selectRow(int id, int index) {
    Control* c = find(id);
    if (!c || !c->enabled || !c->visible || index < 0 ||
        index >= static_cast<int>(c->rows.size())) {
        return;
    }
    c->selection = index;
    if (sink_.command) {
        sink_.command(id, 1);
    }
}

bool InMemoryView::selectRowText(int id, const std::string& text) {
    const Control* c = find(id);
    if (!c) {
        return false;
    }
    const auto found = std::find(c->rows.begin(), c->rows.end(), text);
    if (found == c->rows.end()) {
        return false;
    }
    selectRow(id, static_cast<int>(found - c->rows.begin()));
    return true;
}

void InMemoryView::setEditText(int id, const std::string& text) {
    setText(id, text);
    if (sink_.command) {
        sink_.command(id, 0x300);
    }
}

void InMemoryView::answerMessageBoxes(std::initializer_list<int> answers) {
    answers_.insert(answers_.end(), answers.begin(), answers.end());
}

int InMemoryView::runPosted(int limit) {
    int delivered = 0;
    while (!posted_.empty() && delivered < limit && !ended_) {
        const Posted next = posted_.front();
        posted_.pop_front();
        ++delivered;
        if (next.close) {
            if (sink_.close) {
                sink_.close();
            }
        } else if (sink_.command) {
            sink_.command(next.command, 0);
        }
    }
    return delivered;
}

void InMemoryView::tick(int timerId) {
    if (timers_.contains(timerId) && sink_.timer) {
        sink_.timer(timerId);
    }
}

unsigned InMemoryView::timerPeriod(int timerId) const {
    const auto found = timers_.find(timerId);
    return found == timers_.end() ? 0 : found->second;
}

const MenuItem* InMemoryView::menuItem(int command) const {
    for (const MenuItem& item : menu_) {
        if (item.command == command && command != 0) {
            return &item;
        }
    }
    return nullptr;
}

std::string InMemoryView::toolTip(int id) const {
    const auto found = toolTips_.find(id);
    return found == toolTips_.end() ? std::string() : found->second;
}

bool InMemoryView::hasControl(int id) const {
    return find(id) != nullptr;
}

bool InMemoryView::isChecked(int id) const {
    const Control* c = find(id);
    return c && c->checked;
}

void InMemoryView::setChecked(int id, bool checked) {
    if (Control* c = find(id)) {
        c->checked = checked;
    }
}

bool InMemoryView::isEnabled(int id) const {
    const Control* c = find(id);
    return c && c->enabled;
}

void InMemoryView::setEnabled(int id, bool enabled) {
    if (Control* c = find(id)) {
        c->enabled = enabled;
    }
}

bool InMemoryView::isVisible(int id) const {
    const Control* c = find(id);
    return c && c->visible;
}

void InMemoryView::setVisible(int id, bool visible) {
    if (Control* c = find(id)) {
        c->visible = visible;
    }
}

std::string InMemoryView::text(int id) const {
    const Control* c = find(id);
    if (!c) {
        return {};
    }
    // A drop-down list's text is its selected row.
    if (isList(c->kind)) {
        return c->selection >= 0 ? c->rows[c->selection] : std::string();
    }
    return c->text;
}

void InMemoryView::setText(int id, std::string_view text) {
    if (Control* c = find(id)) {
        c->text = text;
        note("text " + std::to_string(id) + " " + std::string(text));
    }
}

void InMemoryView::setListRows(int id, const std::vector<std::string>& rows) {
    Control* c = find(id);
    if (!c || !isList(c->kind)) {
        return;
    }
    c->rows.clear();
    c->selection = -1;
    for (const std::string& text : rows) {
        auto at = c->rows.end();
        if (c->kind == ControlKind::SortedDropDownList) {
            at = std::upper_bound(c->rows.begin(), c->rows.end(), text, lessCaseInsensitive);
        }
        c->rows.insert(at, text);
    }
}

int InMemoryView::listCount(int id) const {
    const Control* c = find(id);
    return c ? static_cast<int>(c->rows.size()) : 0;
}

std::string InMemoryView::listRow(int id, int index) const {
    const Control* c = find(id);
    if (!c || index < 0 || index >= static_cast<int>(c->rows.size())) {
        return {};
    }
    return c->rows[index];
}

int InMemoryView::listSelection(int id) const {
    const Control* c = find(id);
    return c ? c->selection : -1;
}

void InMemoryView::setListSelection(int id, int index) {
    if (Control* c = find(id)) {
        // As the real list: an index outside the rows clears the selection.
        c->selection = index >= 0 && index < static_cast<int>(c->rows.size()) ? index : -1;
    }
}

ProgressRange InMemoryView::progressRange(int id) const {
    const Control* c = find(id);
    return c ? c->range : ProgressRange{};
}

void InMemoryView::setProgressRange(int id, ProgressRange range) {
    if (Control* c = find(id)) {
        c->range = range;
        c->position = std::clamp(c->position, range.low, range.high);
    }
}

int32_t InMemoryView::progressPosition(int id) const {
    const Control* c = find(id);
    return c ? c->position : 0;
}

void InMemoryView::setProgressPosition(int id, int32_t position) {
    if (Control* c = find(id)) {
        c->position = std::clamp(position, c->range.low, c->range.high);
    }
}

void InMemoryView::setProgressStep(int id, int32_t step) {
    if (Control* c = find(id)) {
        c->step = step;
    }
}

void InMemoryView::stepProgress(int id) {
    // The real bar wraps to its lower limit when a step passes the upper one.
    if (Control* c = find(id)) {
        c->position += c->step;
        if (c->position > c->range.high) {
            c->position = c->range.low + (c->position - c->range.high);
        }
    }
}

bool InMemoryView::loadBitmap(int bitmapId) {
    loadedBitmaps_.insert(bitmapId);
    note("loadBitmap " + std::to_string(bitmapId));
    return true;
}

void InMemoryView::setLamp(int id, int bitmapId) {
    if (Control* c = find(id)) {
        c->lamp = bitmapId;
    }
}

int InMemoryView::lamp(int id) const {
    const Control* c = find(id);
    return c ? c->lamp : 0;
}

void* InMemoryView::controlHandle(int id) const {
    return find(id) ? reinterpret_cast<void*>(static_cast<uintptr_t>(kControlHandleBase + id))
                    : nullptr;
}

void* InMemoryView::bitmapHandle(int bitmapId) const {
    return loadedBitmaps_.contains(bitmapId)
               ? reinterpret_cast<void*>(static_cast<uintptr_t>(kBitmapHandleBase + bitmapId))
               : nullptr;
}

void InMemoryView::setPicture(void* control, void* bitmap) {
    const auto controlId =
        static_cast<int>(reinterpret_cast<uintptr_t>(control)) - kControlHandleBase;
    const auto bitmapId =
        bitmap ? static_cast<int>(reinterpret_cast<uintptr_t>(bitmap)) - kBitmapHandleBase : 0;
    setLamp(controlId, bitmapId);
}

void InMemoryView::setAppIcon() {
    appIconSet_ = true;
    note("setAppIcon");
}

void InMemoryView::paintIcon(int x, int y) {
    paintedIcons_.emplace_back(x, y);
}

void* InMemoryView::appIconHandle() const {
    return reinterpret_cast<void*>(kIconHandle);
}

void InMemoryView::appendMenuSeparator() {
    menu_.push_back({0, "", true});
    note("menu separator");
}

void InMemoryView::appendMenuItem(int command, std::string_view text) {
    menu_.push_back({command, std::string(text), true});
    note("menu item " + std::to_string(command) + " " + std::string(text));
}

void InMemoryView::removeMenuItem(int command) {
    std::erase_if(menu_, [command](const MenuItem& m) { return m.command == command; });
    note("menu remove " + std::to_string(command));
}

void InMemoryView::setMenuItemText(int command, std::string_view text) {
    for (MenuItem& item : menu_) {
        if (item.command == command) {
            item.text = text;
        }
    }
}

void InMemoryView::setMenuItemEnabled(int command, bool enabled) {
    for (MenuItem& item : menu_) {
        if (item.command == command) {
            item.enabled = enabled;
        }
    }
}

bool InMemoryView::createToolTips() {
    note("toolTips create");
    toolTipsCreated_ = toolTipsCanBeCreated;
    return toolTipsCreated_;
}

void InMemoryView::addToolTip(int id, std::string_view text) {
    if (toolTipsCreated_) {
        toolTips_[id] = text;
        note("toolTip " + std::to_string(id));
    }
}

void InMemoryView::setToolTipText(int id, std::string_view text) {
    if (toolTipsCreated_) {
        toolTips_[id] = text;
    }
}

void InMemoryView::activateToolTips() {
    toolTipsActive_ = toolTipsCreated_;
    note("toolTips activate");
}

void InMemoryView::destroyToolTips() {
    toolTipsCreated_ = false;
    toolTipsActive_ = false;
    toolTips_.clear();
    note("toolTips destroy");
}

bool InMemoryView::setTimer(int timerId, unsigned periodMs) {
    timers_[timerId] = periodMs;
    note("setTimer " + std::to_string(timerId) + " " + std::to_string(periodMs));
    return true;
}

void InMemoryView::killTimer(int timerId) {
    timers_.erase(timerId);
    note("killTimer " + std::to_string(timerId));
}

void InMemoryView::postCommand(int command) {
    posted_.push_back({false, command});
    note("post " + std::to_string(command));
}

void InMemoryView::postClose() {
    posted_.push_back({true, 0});
    note("post close");
}

void InMemoryView::endDialog(int result) {
    ended_ = true;
    endResult_ = result;
    note("endDialog " + std::to_string(result));
}

bool InMemoryView::findTopWindow(std::string_view title) const {
    note("findTopWindow " + std::string(title));
    return topWindows_.contains(std::string(title));
}

void InMemoryView::postCloseToTopWindow(std::string_view title) {
    if (topWindows_.contains(std::string(title))) {
        closedTopWindows_.emplace_back(title);
        note("closeTopWindow " + std::string(title));
    }
}

void InMemoryView::showAndActivateTopWindow(std::string_view title) {
    if (topWindows_.contains(std::string(title))) {
        activatedTopWindows_.emplace_back(title);
    }
}

int InMemoryView::messageBox(std::string_view text, std::string_view caption, unsigned style) {
    messageBoxes_.push_back({std::string(text), std::string(caption), style});
    note("messageBox " + std::string(caption));
    if (whileBoxShown) {
        whileBoxShown(messageBoxes_.back());
    }
    if (answers_.empty()) {
        return mb::kIdOk;
    }
    const int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

FileChoice InMemoryView::chooseFileToOpen(std::string_view title, std::string_view filter) {
    fileDialogs_.push_back({std::string(title), std::string(filter)});
    note("chooseFileToOpen " + std::string(title));
    return fileChoice;
}

FileChoice InMemoryView::chooseFileToSave(std::string_view title, std::string_view filter) {
    fileDialogs_.push_back({std::string(title), std::string(filter), true});
    note("chooseFileToSave " + std::string(title));
    return saveChoice;
}

void InMemoryView::beep(unsigned frequency, unsigned durationMs) {
    beeps_.emplace_back(frequency, durationMs);
}

std::string InMemoryView::loadString(int id) const {
    return std::string(stringTableText(id));
}

} // namespace octo::testing
