#include "link/StatusLine.h"

#include "resources/resource.h"

namespace octo {

void StatusLine::showStatus(int32_t code, int32_t textId) {
    std::string text;
    if (code == kFailedDetails || code == kShowString) {
        text = view_.loadString(textId);
    } else if (code < kFirstProgramCode) {
        text = library_->getErrorString(code);
    } else {
        text = view_.loadString(code);
    }
    view_.setText(IDC_STATUS_LINE, text);
}

} // namespace octo
