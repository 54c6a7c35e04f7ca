#pragma once

#include "support/TempFolder.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

// The one QApplication of a Qt test program, made before the first test and gone after the
// last. Its settings and caches go to folders of its own, never the user's; without a display
// it draws offscreen.
class QtEnvironment : public ::testing::Environment
{
public:
    void SetUp() override;
    void TearDown() override;

private:
    TempFolder m_config{"orvane-test-config"};
    TempFolder m_cache{"orvane-test-cache"};
    std::unique_ptr<QApplication> m_app;
};
