#pragma once
// Background work (the sector search, recovery, find) runs below the window's priority so that
// the desktop stays responsive, but not so far below that a busy machine starves it: the calling
// thread's nice value is raised by 5 (nice 19 would leave it a few per cent of a core).
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vm {

inline void LowerThreadPriority() {
    const id_t tid = id_t(::syscall(SYS_gettid));
    errno = 0;
    int nice = ::getpriority(PRIO_PROCESS, tid);
    if (nice == -1 && errno != 0) nice = 0;
    ::setpriority(PRIO_PROCESS, tid, nice + 5 > 19 ? 19 : nice + 5);
}

}  // namespace vm
