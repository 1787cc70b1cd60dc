#pragma once
// Names of poll() bits for the status dump.
#include <string>

// "POLLIN|POLLOUT" and so on, in the order of the bits' values; bits
// without a name are left out, 0 gives "".
std::string PollEventAsText(short bits);
