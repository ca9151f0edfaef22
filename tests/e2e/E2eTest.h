// What every e2e test program shares: one Session for the whole program (started on first
// use, ended after the last test), and a failure, never a skip, when it cannot start.
#ifndef OCTO_E2E_TEST_H
#define OCTO_E2E_TEST_H

#include "harness/Session.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace octo::e2e {

class SharedSession {
public:
    // The session, or null with the reason in error().
    static Session* get() {
        if (!session() && error().empty()) {
            try {
                session() = std::make_unique<Session>();
            } catch (const std::exception& e) {
                error() = e.what();
            }
        }
        return session().get();
    }
    static const std::string& reason() { return error(); }
    static void end() { session().reset(); }

private:
    static std::unique_ptr<Session>& session() {
        static std::unique_ptr<Session> s;
        return s;
    }
    static std::string& error() {
        static std::string e;
        return e;
    }
};

// Ends the shared session after the last test, before static destruction.
class SharedSessionEnvironment : public ::testing::Environment {
public:
    void TearDown() override { SharedSession::end(); }
};

inline const bool kSharedSessionRegistered =
    (::testing::AddGlobalTestEnvironment(new SharedSessionEnvironment), true);

// Polls a reading until it equals the expected value or the deadline passes; returns the
// last reading, so a failed expectation shows what was there instead.
template <typename Read, typename T>
auto eventually(Read read, const T& expected, Millis timeout = Millis{10000}) {
    auto value = read();
    waitUntil(timeout, [&] { return (value = read()) == expected; });
    return value;
}

} // namespace octo::e2e

#endif
