// One ordered record of what the fakes saw, so a test can check the order of calls
// across the view, the library and the platform.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace octo::testing {

class EventLog {
public:
    void add(std::string event) { events_.push_back(std::move(event)); }
    const std::vector<std::string>& events() const { return events_; }
    void clear() { events_.clear(); }
    bool contains(const std::string& event) const {
        return std::find(events_.begin(), events_.end(), event) != events_.end();
    }
    // Position of the first event equal to text, or -1.
    int indexOf(const std::string& event) const {
        const auto found = std::find(events_.begin(), events_.end(), event);
        return found == events_.end() ? -1 : static_cast<int>(found - events_.begin());
    }

private:
    std::vector<std::string> events_;
};

} // namespace octo::testing
