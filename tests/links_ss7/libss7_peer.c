/* The far end of the SS7 link tests: libss7's level 2, level 3 and ISUP behind the simulated
 * board's far-end socket of one timeslot.
 *
 *   libss7_peer <socket path> <drop one MSU in n, 0 for none>
 *
 * Listens on the path (SOCK_SEQPACKET), writes "ready" and relays between the board's
 * connection (one signal unit per packet, no FCS) and libss7's channel (two FCS octets added
 * on the way in, taken off on the way out). Once the link is up, one MSU in n is dropped in
 * each direction, to make both error corrections work.
 *
 * Reports on stdout, one line each: "ready", "up", "down", "blo <cic>" (answered with BLA).
 * End of input on stdin or a hang-up of the board ends the program. */
#include <errno.h>
#include <libss7.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include "tests/support/peer_listen.h"

#define OWN_PC 2
#define ADJ_PC 1
#define PACE_US 1000 /* a unit from libss7 every millisecond at most: a line rate of sorts */

static unsigned drop_every;
static int dropping; /* from the link's coming up on */
static unsigned seed = 7;

/* libss7's own messages would mix with the report lines. */
static void quiet(struct ss7* ss7, char* s) { (void)ss7, (void)s; }

/* One MSU in n lost on average, drawn at random so that losses do not fall into step with a
 * retransmission cycle. */
static int drop(size_t n) {
  return drop_every && dropping && n > 5 && rand_r(&seed) % drop_every == 0;
}

/* libss7 calls these without checking that they were set. */
static void notinservice(struct ss7* ss7, int cic, unsigned int dpc) { (void)ss7, (void)cic, (void)dpc; }
static int hangup(struct ss7* ss7, int cic, unsigned int dpc, int cause, int do_hangup) {
  (void)ss7, (void)cic, (void)dpc, (void)cause, (void)do_hangup;
  return SS7_CIC_IDLE;
}
static void call_null(struct ss7* ss7, struct isup_call* c, int lock) { (void)ss7, (void)c, (void)lock; }

static long long now_us(void) {
  struct timeval tv;
  gettimeofday(&tv, NULL);
  return tv.tv_sec * 1000000LL + tv.tv_usec;
}

static void handle(struct ss7* ss7, ss7_event* e) {
  switch (e->e) {
    case SS7_EVENT_UP:
      /* Losses start once the link is up: our side repeats no unit by itself, so an MSU lost
       * with nothing sent after it could only be recovered by T7 taking the link down. */
      dropping = 1;
      printf("up\n");
      break;
    case SS7_EVENT_DOWN: printf("down\n"); break;
    case ISUP_EVENT_BLO:
      printf("blo %d\n", e->blo.cic);
      isup_bla(ss7, e->blo.call);
      break;
    default: break;
  }
}

int main(int argc, char** argv) {
  if (argc < 3) return fprintf(stderr, "usage: %s <socket path> <drop one MSU in n>\n", argv[0]), 2;
  drop_every = (unsigned)atoi(argv[2]);

  int lfd = peer_listen(argv[1]), far, sp[2];
  if (lfd < 0) return perror("listen"), 1;
  setvbuf(stdout, NULL, _IOLBF, 0); /* the test reads each line as it comes */
  printf("ready\n");
  if ((far = accept(lfd, NULL, NULL)) < 0) return perror("accept"), 1;
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sp)) return perror("socketpair"), 1;
  int lib = sp[0], relay = sp[1];

  ss7_set_message(quiet);
  ss7_set_error(quiet);
  ss7_set_notinservice(notinservice);
  ss7_set_hangup(hangup);
  ss7_set_call_null(call_null);
  struct ss7* ss7 = ss7_new(SS7_ITU);
  ss7_set_network_ind(ss7, SS7_NI_NAT);
  ss7_set_pc(ss7, OWN_PC);
  if (ss7_add_link(ss7, SS7_TRANSPORT_DAHDIDCHAN, lib, 0, ADJ_PC)) return fprintf(stderr, "ss7_add_link failed\n"), 1;
  ss7_start(ss7);
  ss7_link_noalarm(ss7, lib);

  long long next_write = 0;
  unsigned char buf[1024];
  for (;;) {
    int wait = 2;
    struct timeval* next = ss7_schedule_next(ss7);
    if (next) {
      long long due = next->tv_sec * 1000000LL + next->tv_usec - now_us();
      if (due < wait * 1000LL) wait = due > 0 ? (int)(due / 1000) : 0;
    }
    struct pollfd p[4] = {{far, POLLIN, 0}, {relay, POLLIN, 0}, {lib, POLLIN, 0}, {0, POLLIN, 0}};
    if (poll(p, 4, wait) < 0 && errno != EINTR) break;

    if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) { /* from the board: to libss7 */
      ssize_t n = recv(far, buf, sizeof buf - 2, 0);
      if (n <= 0) break;
      if (!drop((size_t)n)) {
        buf[n] = buf[n + 1] = 0; /* the FCS room libss7 expects */
        send(relay, buf, (size_t)n + 2, 0);
      }
    }
    if (p[2].revents & POLLIN) ss7_read(ss7, lib);
    if (p[1].revents & POLLIN) { /* from libss7: to the board */
      ssize_t n = recv(relay, buf, sizeof buf, 0);
      if (n > 2 && !drop((size_t)n - 2)) send(far, buf, (size_t)n - 2, 0);
    }
    if (p[3].revents & (POLLIN | POLLHUP)) {
      ssize_t n = read(0, buf, sizeof buf);
      if (n <= 0) break;
    }
    if ((ss7_pollflags(ss7, lib) & POLLOUT) && now_us() >= next_write) {
      ss7_write(ss7, lib);
      next_write = now_us() + PACE_US;
    }
    ss7_schedule_run(ss7);
    for (ss7_event* e; (e = ss7_check_event(ss7));) handle(ss7, e);
  }
  return 0;
}
