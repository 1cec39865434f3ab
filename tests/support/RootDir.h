// A fixture whose absolute paths (files, devices, commands) lead into a fresh
// folder; its folder outlives whatever a derived fixture writes into it.
#pragma once

#include "TestRoot.h"

#include "platform/Root.h"

#include <gtest/gtest.h>

class RootDir : public ::testing::Test {
  protected:
    void SetUp() override { plat_set_root(dir.path.c_str()); }
    void TearDown() override { plat_set_root(nullptr); }
    // The root's log, and the commands the program ran, one a line.
    std::string syslog() const { return ReadFile(dir.path + "/syslog.log"); }
    std::vector<std::string> commands() const { return ReadLines(dir.path + "/commands.log"); }

    TempDir dir;
};
