#include "engine/ChildDescriptors.h"

#if defined(__linux__)
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>

int ChildDescriptors::closeAllOnExec()
{
    auto* folder = ::opendir ("/proc/self/fd");

    if (folder == nullptr)
        return 0;

    const int own = ::dirfd (folder);
    int changed = 0;

    while (const auto* entry = ::readdir (folder))
    {
        const int fd = std::atoi (entry->d_name);
        const int flags = fd > 2 && fd != own ? ::fcntl (fd, F_GETFD) : -1;

        if (flags >= 0 && (flags & FD_CLOEXEC) == 0 && ::fcntl (fd, F_SETFD, flags | FD_CLOEXEC) == 0)
            ++changed;
    }

    ::closedir (folder);
    return changed;
}
#else
int ChildDescriptors::closeAllOnExec()
{
    return 0;
}
#endif
