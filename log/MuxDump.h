#pragma once
// The loop's part of the status dump, and the names of poll() bits in it.
#include <iosfwd>
#include <string>

class Multiplexer;

// "POLLIN|POLLOUT" and so on, in the order of the bits' values; bits
// without a name are left out, 0 gives "".
std::string PollEventAsText(short bits);

// The loop's three timing statistics, the profiling points and a table of
// the polled descriptor events.
void DumpMultiplexer(std::ostream& os, const Multiplexer& mux);
