#!/usr/bin/env python3
"""Stand-in for the T.38 engine that the software T.38 slot runs. Installed by the tests as
/usr/local/sbin/t38 under the daemon's path root, beside which it keeps its files:

- t38.instances: what "--num-of-instances" answers (one line); without it, "4";
- t38.log: one line per start, its arguments after argument 0 as JSON (an interpreted script
  does not see its argument 0; the daemon's trace shows it);
- with "--child --remote <host>/<port>/<local port> ...": it says "T38 READY" on its standard
  input (the controller channel, a datagram socket), then relays every frame it reads there to
  <host>:<port> over UDP; at the channel's end it exits with status 3 (with "--linger" it
  waits on, as an engine that does not notice), and SIGTERM ends it as the signal does."""

import json
import os
import signal
import socket
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def main(argv):
    if "--num-of-instances" in argv:
        try:
            with open(os.path.join(HERE, "t38.instances")) as f:
                sys.stdout.write(f.read())
        except OSError:
            sys.stdout.write("4\n")
        return 0
    with open(os.path.join(HERE, "t38.log"), "a") as log:
        log.write(json.dumps(argv[1:]) + "\n")
    if "--child" not in argv or "--remote" not in argv:
        return 2
    host, port, _local = argv[argv.index("--remote") + 1].split("/")
    channel = socket.socket(fileno=os.dup(0))
    out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        channel.send(b"T38 READY")
        frame = channel.recv(65536)
        while frame:
            out.sendto(frame, (host, int(port)))
            frame = channel.recv(65536)
    except OSError:
        pass
    if "--linger" in argv:
        signal.pause()
    return 3


if __name__ == "__main__":
    sys.exit(main(sys.argv))
