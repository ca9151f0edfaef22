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

// A test that needs the session; it fails with the reason when the session cannot start.
class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        session_ = SharedSession::get();
        ASSERT_NE(session_, nullptr) << SharedSession::reason();
    }

    Session* session_ = nullptr;
};

// A test with the program installed afresh and started in its window.
class ProgramWindowTest : public SessionTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(SessionTest::SetUp());
        session_->installProgram();
        window_ = std::make_unique<Window>(session_->launch());
        ASSERT_TRUE(session_->waitStartupEnd())
            << "the program did not end its start-up: " << session_->programLog();
    }

    std::unique_ptr<Window> window_;
};

// Tests that share one window, opened once for their suite (a suite per Suite, so each
// has its own window); a window that did not open fails every test with the reason.
template <typename Suite>
class SharedWindowTest : public ::testing::Test {
protected:
    // Runs open on the session, which sets window_; keeps what it throws as the reason.
    template <typename Open>
    static void openWindow(Open open) {
        Session* s = SharedSession::get();
        if (!s) {
            return;
        }
        try {
            open(*s);
        } catch (const std::exception& e) {
            launchError_ = e.what();
        }
    }

    void SetUp() override {
        ASSERT_NE(SharedSession::get(), nullptr) << SharedSession::reason();
        ASSERT_TRUE(window_) << launchError_;
    }

    Window& w() { return *window_; }
    Session& session() { return *SharedSession::get(); }

    static inline std::unique_ptr<Window> window_;
    static inline std::string launchError_;
};

} // namespace octo::e2e

#endif
