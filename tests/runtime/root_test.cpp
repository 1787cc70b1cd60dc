#include "runtime/Root.h"

#include <gtest/gtest.h>
#include <stdlib.h>

TEST(Root, FixedPathsMoveUnderTheRoot) {
  setenv("QUORVAD_ROOT", "/tmp/board//", 1);
  Root::reload();
  EXPECT_EQ(Root::dir(), "/tmp/board");
  EXPECT_EQ(Root::path("/var/run/server.pid"), "/tmp/board/var/run/server.pid");
  EXPECT_EQ(Root::path("dev/hal"), "/tmp/board/dev/hal");

  unsetenv("QUORVAD_ROOT");
  Root::reload();
  EXPECT_EQ(Root::path("/var/run/server.pid"), "/var/run/server.pid");
  EXPECT_EQ(Root::path(""), "/");
}
