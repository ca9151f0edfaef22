#include "dialogs/ModalDialogs.h"

#include "dialogs/AboutBox.h"
#include "dialogs/ReadOutDialog.h"
#include "dialogs/SignalsDialog.h"
#include "resources/resource.h"

namespace octo {

void ModalDialogs::runAboutBox() {
    const auto window = view_.createDialog(IDD_ABOUTBOX);
    AboutBox box(window->view(), platform_, *library_, profile_, state_);
    window->runModal(box);
}

bool ModalDialogs::runReadOutDialog() {
    const auto window = view_.createDialog(IDD_READOUT);
    ReadOutDialog dialog(window->view(), state_);
    return window->runModal(dialog) == mb::kIdOk;
}

void ModalDialogs::runSignalsDialog() {
    const auto window = view_.createDialog(IDD_SIGNALS);
    SignalsDialog dialog(window->view(), *library_, settings_);
    window->runModal(dialog);
}

} // namespace octo
