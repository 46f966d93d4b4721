#pragma once
// Process-wide set-ups of the audio suites, each registered once per test program with
// testing::AddGlobalTestEnvironment.

#include "AudioBackend.h"
#include "PulseAudioTestServer.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

// Settings in a folder of the test program's own, removed at exit.
class PrivateSettingsEnvironment : public testing::Environment {
public:
    void SetUp() override { qputenv("XDG_CONFIG_HOME", settings_.path().toUtf8()); }

private:
    QTemporaryDir settings_;
};

// Private settings and the program's shared audio backend on the test program's own PulseAudio
// server. When that cannot be had, unavailableReason() says why (for GTEST_SKIP).
class PulseBackendEnvironment : public PrivateSettingsEnvironment {
public:
    void SetUp() override {
        PrivateSettingsEnvironment::SetUp();
        if (!PulseAudioTestServer::ensureRunning(&skipReason_)) return;
        backend_ = AudioBackend::make("pulse");
        if (!backend_) {
            skipReason_ = "the PulseAudio test server does not answer";
            return;
        }
        AudioBackend::setShared(backend_);
    }
    // The engine (made after the server) lets the backend go before the server is stopped.
    void TearDown() override {
        backend_.reset();
        AudioBackend::setShared(nullptr);
    }
    const std::string& unavailableReason() const { return skipReason_; }
    const std::shared_ptr<AudioBackend>& backend() const { return backend_; }

private:
    std::string skipReason_;
    std::shared_ptr<AudioBackend> backend_;
};
