#include "api/Host.h"
#include "api/NativeHooks.h"

#include <utility>

namespace octo::library {

namespace {

class NativeHost final : public Host {
public:
    void pumpMessages() override {
        if (hooks_.pump) {
            hooks_.pump();
        }
    }
    void setText(OctoHandle window, const std::string& text) override {
        if (hooks_.text) {
            hooks_.text(window, text);
        }
    }
    void setProgress(OctoHandle bar, uint32_t position, uint32_t range) override {
        if (hooks_.progress) {
            hooks_.progress(bar, position, range);
        }
    }
    void setPicture(OctoHandle lamp, OctoHandle picture) override {
        if (hooks_.picture) {
            hooks_.picture(lamp, picture);
        }
    }
    void setHooks(NativeHooks hooks) { hooks_ = std::move(hooks); }

private:
    NativeHooks hooks_;
};

NativeHost& nativeHost() {
    static NativeHost host;
    return host;
}

} // namespace

Host& platformHost() {
    return nativeHost();
}

void setNativeHooks(NativeHooks hooks) {
    nativeHost().setHooks(std::move(hooks));
}

} // namespace octo::library
