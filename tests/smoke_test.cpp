#include <gtest/gtest.h>
#include "common/Format.h"
TEST(Smoke, Builds) { EXPECT_EQ(tvx::FormatSize(1024), QStringLiteral("1 KB")); }
