#pragma once

#include <functional>

namespace talviren::web {

// What the server needs of the program's event loop, which runs everything on one thread: to
// hear when a descriptor can be read, and to be called back after a while.
class IoLoop {
public:
    virtual ~IoLoop() = default;
    // Calls `ready` whenever `fd` can be read, until unwatch().
    virtual void watch(int fd, std::function<void()> ready) = 0;
    virtual void unwatch() = 0;
    // Calls `due` once, `ms` from now, in place of any call not yet made.
    virtual void callAfter(int ms, std::function<void()> due) = 0;
    virtual void cancelCall() = 0;
};

} // namespace talviren::web
