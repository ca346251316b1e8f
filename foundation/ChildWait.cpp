#include "foundation/ChildWait.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

#include "foundation/Signal.h"

int ChildWait::UsageCounter = 0;
ChildWaitService* ChildWaitService::childWaitService = nullptr;

ChildWait::~ChildWait() {
  handler->~Handler();
  Detach();
}

void ChildWait::Attach(int p) {
  pid = p;
  ChildWaitService* s = ChildWaitService::childWaitService;
  if (!s) return;
  if (s->waits.contains(this)) s->waits.remove(this);
  s->waits.insert_to_tail(this);
}

void ChildWait::Detach() {
  ChildWaitService* s = ChildWaitService::childWaitService;
  if (s && s->waits.contains(this)) s->waits.remove(this);
}

bool ChildWait::attached() const {
  ChildWaitService* s = ChildWaitService::childWaitService;
  return s && s->waits.contains(this);
}

void ChildWait::Initialize() { ChildWaitService::childWaitService = new ChildWaitService; }

void ChildWait::Cleanup() {
  ChildWaitService* s = ChildWaitService::childWaitService;
  if (!s) return;
  s->Release();
  s->writeEnd.close();
  ChildWaitService::childWaitService = nullptr;
  delete s;
}

void ChildWait::Activate() {
  ChildWaitService* s = ChildWaitService::childWaitService;
  if (!s || s->writeEnd) return;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_DGRAM, 0, fds) != 0) {
    std::cerr << "ChildWaitService: initialize fails" << std::endl;
    return;
  }
  SetCloexec(fds[0], true);
  // The signal handler must never block: a full queue already holds a wake-up.
  NonBlockMode(fds[0]);
  s->writeEnd.reset(fds[0]);
  s->Bind("ChildWaitService::OnChildEvent", &ChildWaitService::OnChildEvent, s);
  Fd readEnd(fds[1]);
  SetCloexec(fds[1], true);
  readEnd.NonBlock();
  s->Schedule(readEnd, POLLIN);
  IPC::Signal::handle(SIGCHLD, &ChildWaitService::SigChldHandlerWrapper, SA_RESTART);
}

// Signal context: one non-blocking send, errno preserved, nothing else.
void ChildWaitService::SigChldHandlerWrapper(int) {
  const int saved = errno;
  ChildWaitService* s = childWaitService;
  if (s) {
    int fd = s->writeEnd.get();
    if (fd >= 0) {
      const char wake = 0;
      ssize_t r = ::send(fd, &wake, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
      (void)r;
    }
  }
  errno = saved;
}

void ChildWaitService::OnChildEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  char drain[64];
  while (::recv(fd, drain, sizeof drain, MSG_DONTWAIT) > 0) {
  }
  int status = 0;
  pid_t pid;
  while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
    std::clog << "terminate child process, pid=" << pid << " status=" << status << std::endl;
    for (ChildWait* w = waits.first(); w; w = w->next) {
      if (w->pid == pid) {
        waits.remove(w);
        w->handler->Invoke(*w, status);
        break;
      }
    }
  }
}
