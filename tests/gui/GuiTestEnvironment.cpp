// Every window test runs with one QApplication and a temporary settings
// home, made before the first test whatever the filter.
#include <gtest/gtest.h>

#include "GuiTestSupport.h"

namespace {

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override { guitest::ensureApp(); }
};

[[maybe_unused]] ::testing::Environment* const g_env = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

}  // namespace
