// A fixture for tests of the built program on a private X server: the
// server, optionally a focused X client that sees what the program sends,
// and `start` to run the program there.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/RunProgram.h"
#include "tests/support/XClient.h"
#include "tests/support/XvfbServer.h"

class ProgramOnX : public ::testing::Test {
  protected:
    explicit ProgramOnX(bool withClient = true) : withClient_(withClient) {}

    void SetUp() override {
        if (!server.ok()) GTEST_SKIP() << server.error();
        if (withClient_) {
            client = std::make_unique<XClient>(server.display());
            ASSERT_TRUE(client->ok());
        }
    }

    // Starts build/tolvane with `args` on the server's display.
    std::unique_ptr<ChildProcess> start(const std::vector<std::string>& args) {
        std::vector<std::string> argv{buildDir() + "/tolvane"};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<ChildProcess>(
            argv, std::vector<std::string>{"DISPLAY=" + server.display()});
    }

    XvfbServer server{1280, 1024};
    std::unique_ptr<XClient> client;

  private:
    bool withClient_;
};
