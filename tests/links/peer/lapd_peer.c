/* A far end for the link tests: one or more D channels of Debian's libpri on one
 * SOCK_SEQPACKET socket that the simulated board connects to (one packet = one frame without
 * FCS). Several instances share the socket as terminals share a basic-rate bus.
 *
 *   lapd_peer <socket path> <network|cpe> <pri|bri|bri-ptp> [instances]
 *
 * Lines on stdin: "drop-rx N" (lose the next N I frames from the line), "drop-tx N" (lose the
 * next N I frames the peer sends), "call" (instance 0 sends a SETUP); end of input ends it.
 * Lines on stdout: "listening", "rx <hex>", "tx <hex>", "event <instance> <name>". */
#include <errno.h>
#include <libpri.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include "tests/support/peer_listen.h"

#define MAX_INSTANCES 16
#define MAX_FRAME 1024

static int line = -1;
static int drop_rx, drop_tx;
static unsigned char frame[MAX_FRAME + 2];
static int frame_len = -1; /* the frame being handed to the instances, -1 for none */

static int is_i_frame(const unsigned char *p, int n) { return n >= 4 && !(p[2] & 0x01); }

static void print_hex(const char *what, const unsigned char *p, int n) {
  printf("%s ", what);
  for (int i = 0; i < n; ++i) printf("%02X", p[i]);
  printf("\n");
}

/* libpri strips two FCS octets from what it reads and writes two after each frame; the line
 * carries frames without FCS: two are added on the way in and removed on the way out. */
static int io_read(struct pri *pri, void *buf, int buflen) {
  (void)pri;
  if (frame_len < 0) {
    errno = EAGAIN;
    return -1;
  }
  int n = frame_len + 2 < buflen ? frame_len + 2 : buflen;
  memcpy(buf, frame, (size_t)n);
  return n;
}

static int io_write(struct pri *pri, void *buf, int buflen) {
  (void)pri;
  int n = buflen - 2;
  if (n <= 0) return buflen;
  print_hex("tx", buf, n);
  if (drop_tx > 0 && is_i_frame(buf, n)) {
    --drop_tx;
    printf("dropped-tx\n");
    return buflen;
  }
  if (send(line, buf, (size_t)n, MSG_NOSIGNAL) < 0) return -1;
  return buflen;
}

static void report(int i, pri_event *e) {
  if (e) printf("event %d %s\n", i, pri_event2str(e->e));
}

static void command(struct pri **pris, char *text) {
  int n = 0;
  if (sscanf(text, "drop-rx %d", &n) == 1) drop_rx = n;
  else if (sscanf(text, "drop-tx %d", &n) == 1) drop_tx = n;
  else if (strncmp(text, "call", 4) == 0) {
    q931_call *c = pri_new_call(pris[0]);
    struct pri_sr *sr = pri_sr_new();
    pri_sr_set_channel(sr, 1, 1, 0);
    pri_sr_set_bearer(sr, PRI_TRANS_CAP_SPEECH, PRI_LAYER_1_ALAW);
    pri_sr_set_called(sr, "1234", PRI_UNKNOWN, 1);
    pri_setup(pris[0], c, sr);
    pri_sr_free(sr);
  }
}

int main(int argc, char **argv) {
  if (argc < 4) return fprintf(stderr, "usage: lapd_peer <socket path> <network|cpe> <pri|bri|bri-ptp> [instances]\n"), 2;
  int node = strcmp(argv[2], "network") == 0 ? PRI_NETWORK : PRI_CPE;
  /* A basic-rate line is point-to-multipoint (assigned TEIs) unless "bri-ptp" (TEI 0). */
  int ptp = strcmp(argv[3], "bri-ptp") == 0;
  int bri = ptp || strcmp(argv[3], "bri") == 0;
  int count = argc > 4 ? atoi(argv[4]) : 1;
  if (count < 1 || count > MAX_INSTANCES) count = 1;

  int server = peer_listen(argv[1]);
  if (server < 0) return perror("lapd_peer: listen"), 1;
  setvbuf(stdout, NULL, _IOLBF, 0); /* the test reads each line as it comes */
  printf("listening\n");
  if ((line = accept(server, NULL, NULL)) < 0) return perror("lapd_peer: accept"), 1;

  struct pri *pris[MAX_INSTANCES];
  for (int i = 0; i < count; ++i) {
    pris[i] = bri ? pri_new_bri_cb(line, ptp, node, PRI_SWITCH_EUROISDN_E1, io_read, io_write, NULL)
                  : pri_new_cb(line, node, PRI_SWITCH_EUROISDN_E1, io_read, io_write, NULL);
    if (!pris[i]) return fprintf(stderr, "lapd_peer: pri_new failed\n"), 1;
  }

  char text[256];
  for (;;) {
    int wait = 1000;
    struct timeval now;
    gettimeofday(&now, NULL);
    for (int i = 0; i < count; ++i) {
      struct timeval *next = pri_schedule_next(pris[i]);
      if (!next) continue;
      long ms = (next->tv_sec - now.tv_sec) * 1000 + (next->tv_usec - now.tv_usec) / 1000;
      if (ms < 0) ms = 0;
      if (ms < wait) wait = (int)ms;
    }
    struct pollfd fds[2] = {{line, POLLIN, 0}, {0, POLLIN, 0}};
    if (poll(fds, 2, wait) < 0 && errno != EINTR) return 1;
    if (fds[0].revents & POLLIN) {
      ssize_t n = recv(line, frame, MAX_FRAME, 0);
      if (n <= 0) return 0; /* the board hung up */
      print_hex("rx", frame, (int)n);
      if (drop_rx > 0 && is_i_frame(frame, (int)n)) {
        --drop_rx;
        printf("dropped-rx\n");
      } else {
        frame[n] = frame[n + 1] = 0;
        frame_len = (int)n;
        for (int i = 0; i < count; ++i) report(i, pri_check_event(pris[i]));
        frame_len = -1;
      }
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
      return 0;
    }
    if (fds[1].revents & (POLLIN | POLLHUP)) { /* a command line arrives whole in one write */
      ssize_t n = read(0, text, sizeof text - 1);
      if (n <= 0) return 0;
      text[n] = '\0';
      for (char *l = strtok(text, "\n"); l; l = strtok(NULL, "\n")) command(pris, l);
    }
    for (int i = 0; i < count; ++i) report(i, pri_schedule_run(pris[i])); /* runs what fell due */
  }
}
