// Sub-dialogs that show nothing: the window's stand-in until it owns the real About box,
// read-out and signals dialogs. A read-out is never confirmed, so none starts.
#pragma once

#include "dialogs/SubDialogs.h"

namespace octo {

class NoSubDialogs final : public SubDialogs {
public:
    void runAboutBox() override {}
    bool runReadOutDialog() override { return false; }
    void runSignalsDialog() override {}
};

} // namespace octo
