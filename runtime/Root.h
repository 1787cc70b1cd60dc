#pragma once
// Every fixed path of the daemon ("/var/run/...", "/dev/...", "/proc/...")
// resolves under one root, so that a whole board can be laid out in a
// directory of an ordinary machine. The root comes from QUORVAD_ROOT
// (unset or empty: "/") and is read once, before anything changes the
// working directory.
#include <string>

namespace Root {

// The root directory, without a trailing slash ("" for "/").
const std::string& dir();

// A fixed absolute path placed under the root; a relative path is
// anchored at the root too, since daemon mode moves the working
// directory to "/".
std::string path(const std::string& fixed);

// Re-reads QUORVAD_ROOT; for tests that change the environment.
void reload();

}  // namespace Root
