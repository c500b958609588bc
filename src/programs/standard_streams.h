#pragma once

namespace programs {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, as the
// first thing a program does: otherwise the next descriptor it opens (a
// socket, an eventfd, the output file) becomes its standard input, output
// or error, and a line meant for stderr lands in it. Returns which were
// closed (bit N for descriptor N).
unsigned openClosedStandardStreams();

}  // namespace programs
