#include "programs/standard_streams.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace programs {

unsigned openClosedStandardStreams()
{
    unsigned closed = 0;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        closed |= 1u << fd;
        // The lowest free descriptor: this one, as those below are open.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd)
            ::close(opened);
    }
    return closed;
}

}  // namespace programs
