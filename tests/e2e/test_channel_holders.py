"""Slots that hold a controller channel (players, recorders, T.38 slots) keep it until no route
into or out of it stands: a destroy the switch refused, a channel the board took back and an
engine that ended leave no route of the old call to the next slot given the number. A recorder
moved to another call records only that call, in a session of its own, and none of what the old
route left on its channel; a player or recorder whose connect failed before its path was made
starts afresh on the retry, while a disconnect, even in the connect's own pass, leaves the play
or the recording going. The simulator tells duplicated descriptors apart by their device."""

import os
import shutil
import signal
import socket
import stat

import vxharness as vx
from test_input_bounds import FarEnd
import test_media
from test_modem import ModemTest, map_rx, modem_params
from test_rtp import rtp, udp_port
from test_switch_refusal import TrunkSwitchCase

HERE = os.path.dirname(os.path.abspath(__file__))
DISCONNECT_FAIL = 8
CONNECT_FAIL = 9
IDLE = "constant 213"
MCC = "create : mcc : { type data, mode standard }"
PROMPT = bytes(range(256)) * 12
ACTIVATE = ('activate : modem : { remoteAddr "10.0.0.2", netmask "255.0.0.0", gateway "10.0.0.1", '
            'dns "10.0.0.1", mtu 1500 }')


def recorder(port):
    return 'create : voice : record : { iaddr "127.0.0.1", port %d }' % port


def player(name, repeat=1):
    return 'create : voice : player : file : { name { "%s" }, repeat %d }' % (name, repeat)


def t38(port):
    return ('create : t38soft : { dhost { iaddr "127.0.0.1", port %d }, shost { iaddr "10.0.0.1", port 4002 }, '
            "rx-packet-size 160, rx-threshold 2, tx-threshold 3, args { } }" % port)


class MediaServer:
    """A TCP server that takes sessions only when asked; with `fill`, its accept queue is full
    meanwhile, so a new connection waits for the client's next try (about a second)."""

    def __init__(self):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(0)
        self.port = self.listener.getsockname()[1]
        self.fillers = []
        self.own = set()

    def fill(self):
        """Connections that nobody takes, enough to fill the queue."""
        for _ in range(2):
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            s.setblocking(False)
            try:
                s.connect(("127.0.0.1", self.port))
            except BlockingIOError:
                pass
            self.fillers.append(s)
            self.own.add(s.getsockname())

    def take(self, timeout=5.0):
        """The next session that is not a filler."""
        self.listener.settimeout(timeout)
        while True:
            conn, peer = self.listener.accept()
            if peer not in self.own:
                conn.settimeout(timeout)
                return conn
            conn.close()

    def close(self):
        for s in self.fillers + [self.listener]:
            s.close()


def received(conn, size=None, timeout=5.0):
    """What a session got: its first `size` octets (and whatever came with them), or without a
    size everything up to its end."""
    out = b""
    conn.settimeout(timeout)
    while size is None or len(out) < size:
        chunk = conn.recv(65536)
        if not chunk:
            break
        out += chunk
    return out


class Holders(TrunkSwitchCase):
    def setUp(self):
        super().setUp()
        voice = self.daemon.path("/usr/local/voice")
        os.makedirs(voice, exist_ok=True)
        with open(os.path.join(voice, "prompt.raw"), "wb") as f:
            f.write(PROMPT)
        sbin = self.daemon.path("/usr/local/sbin")
        os.makedirs(sbin, exist_ok=True)
        shutil.copy(os.path.join(HERE, "t38_standin.py"), os.path.join(sbin, "t38"))
        os.chmod(os.path.join(sbin, "t38"), stat.S_IRWXU)

    def tearDown(self):
        self.board.ask("fail hal none")
        self.c.close()
        vx.wait_for(lambda: not self.open_channels())
        super().tearDown()

    def connect_twice(self, src, dst):
        """The answers to two connects sent in one write."""
        self.c.send_raw(b"".join(vx.tpkt(self.encoded(src, "connect : %d" % dst)) for _ in range(2)))
        return self.answers(2)

    def create_holding(self, slot, command):
        """Creates the slot; the controller channel it opened."""
        before = self.open_channels()
        self.assertEqual(self.send_to(slot, command), "success")
        (channel,) = self.open_channels() - before
        return channel

    # Stand-in engines of this daemon still running.
    engines = test_media.Media.engines

    # -- a destroy whose takedowns the switch refuses

    def test_a_refused_destroy_keeps_the_channel_from_the_next_slot(self):
        cases = (("recorder", recorder(9), (1, None)),
                 ("player", player("prompt.raw", 0), (None, 1)),
                 ("t38", t38(udp_port()), (1, 1)))
        for n, (kind, command, routes) in enumerate(cases):
            with self.subTest(kind):
                try:
                    self.refused_destroy_case(20 + 2 * n, 21 + 2 * n, command, *routes)
                finally:
                    self.board.ask("fail hal none")

    def refused_destroy_case(self, old, new, command, feed, sink):
        """Slot old, made by command, fed by trunk slot feed and feeding trunk slot sink (None:
        not), destroyed while the switch refuses; new is the next slot."""
        channel = self.create_holding(old, command)
        if feed:
            self.assertEqual(self.connect(feed, old), "success")
            self.assertEqual(self.switch(channel), "connected %d" % feed)
        if sink:
            self.assertEqual(self.connect(old, sink), "success")
            self.assertEqual(self.switch(sink), "connected %d" % channel)
        self.board.ask("fail hal EBUSY 1000000")
        self.assertEqual(self.send_to(old, "destroy : NULL"), "success")
        # Even once the engine that had the channel too is gone.
        self.assertTrue(vx.wait_for(lambda: not self.engines()), self.engines())
        # The routes stand, and so does the channel: the next slot gets another one.
        self.assertNotEqual(self.create_holding(new, MCC), channel)
        self.assertIn(channel, self.open_channels())
        if feed:
            self.assertEqual(self.switch(channel), "connected %d" % feed)
        if sink:
            self.assertEqual(self.switch(sink), "connected %d" % channel)
        self.board.ask("fail hal none")
        if feed:
            self.assertTrue(vx.wait_for(lambda: self.switch(channel) != "connected %d" % feed, 3))
        if sink:
            self.assertTrue(vx.wait_for(lambda: self.switch(sink) == IDLE, 3), self.switch(sink))
        self.assertTrue(vx.wait_for(lambda: channel not in self.open_channels(), 3))
        self.assertEqual(self.send_to(new, "destroy : NULL"), "success")

    # -- a channel the board took back, an engine that ended

    def check_alone(self, lost, channel):
        """`lost` held `channel`, which a new MCC slot holds now: nothing `lost` is told reaches it."""
        self.assertEqual(self.send_to(50, MCC), "success")
        self.assertIn(channel, self.open_channels())
        self.assertEqual(self.connect(3, lost), CONNECT_FAIL)
        self.assertEqual(self.connect(lost, 3), CONNECT_FAIL)
        self.assertNotEqual(self.switch(channel), "connected 3")
        self.assertNotEqual(self.switch(3), "connected %d" % channel)
        self.assertEqual(self.send_to(lost, "destroy : NULL"), "success")
        self.assertEqual(self.send_to(50, "destroy : NULL"), "success")

    def test_a_voice_channel_the_board_took_back_is_lost(self):
        server = MediaServer()
        self.addCleanup(server.close)
        for slot, command, (feed, sink) in ((30, recorder(server.port), (1, None)),
                                            (31, player("prompt.raw", 0), (None, 2))):
            with self.subTest(slot=slot):
                channel = self.create_holding(slot, command)
                if feed:
                    self.assertEqual(self.connect(feed, slot), "success")
                    session = server.take()
                if sink:
                    self.assertEqual(self.connect(slot, sink), "success")
                self.assertEqual(self.board.ask("hdlc-hangup %d" % channel), "1")
                if feed:
                    self.assertTrue(vx.wait_for(lambda: self.switch(channel) != "connected %d" % feed))
                    self.assertEqual(self.slot_signal(slot, "ioctl"), "stopRecording : userRequest")
                    self.assertEqual(received(session), b"")
                    session.close()
                if sink:
                    self.assertTrue(vx.wait_for(lambda: self.switch(sink) != "connected %d" % channel))
                    self.assertEqual(self.slot_signal(slot, "abort"), "0")
                self.check_alone(slot, channel)

    def test_a_t38_slot_whose_engine_ended_loses_its_channel(self):
        channel = self.create_holding(40, t38(udp_port()))
        self.assertEqual(self.connect(40, 2), "success")
        self.assertEqual(self.connect(2, 40), "success")
        self.assertTrue(vx.wait_for(lambda: len(self.engines()) == 1), self.engines())
        os.kill(self.engines()[0], signal.SIGKILL)
        self.assertIsNotNone(self.slot_signal(40, "abort"))
        # Its paths went with the engine, and the channel with the last of them.
        self.assertNotEqual(self.switch(2), "connected %d" % channel)
        self.assertNotEqual(self.switch(channel), "connected 2")
        self.assertTrue(vx.wait_for(lambda: channel not in self.open_channels()))
        self.check_alone(40, channel)

    # -- a recorder moved to another call

    def test_a_recorder_moved_to_another_call_records_it_in_a_new_session(self):
        server = MediaServer()
        self.addCleanup(server.close)
        channel = self.create_holding(60, recorder(server.port))
        self.assertEqual(self.connect(1, 60), "success")
        first = server.take()
        self.assertEqual(self.board.ask("tdm-frame 1 %s" % ("aa" * 100)), "1")
        self.assertEqual(received(first, 100), b"\xaa" * 100)
        # The server is slow to take the next session.
        server.fill()
        # A disconnect leaves the session recording; the next input ends it.
        self.assertEqual(self.send_to(60, "disconnect : NULL"), "success")
        self.assertEqual(self.board.ask("hdlc-frame %d %s" % (channel, "ab" * 100)), "1")
        self.assertEqual(received(first, 100), b"\xab" * 100)
        self.assertIsNone(self.slot_signal(60, "ioctl", timeout=0.1))
        self.assertEqual(self.connect(2, 60), "success")
        self.assertEqual(self.slot_signal(60, "ioctl", timeout=0.1), "stopRecording : userRequest")
        self.assertEqual(self.switch(channel), "connected 2")
        self.assertEqual(self.board.ask("tdm-frame 2 %s" % ("bb" * 100)), "1")
        # The first session ended with its own call's samples only.
        self.assertEqual(received(first), b"")
        first.close()
        for filler in server.fillers:
            filler.close()
        second = server.take()
        self.assertEqual(received(second, 100), b"\xbb" * 100)
        # Moved without a disconnect: the same.
        self.assertEqual(self.connect(3, 60), "success")
        self.assertEqual(self.slot_signal(60, "ioctl", timeout=0.1), "stopRecording : userRequest")
        self.assertEqual(self.board.ask("tdm-frame 3 %s" % ("dd" * 100)), "1")
        self.assertEqual(received(second), b"")
        second.close()
        third = server.take()
        self.assertEqual(received(third, 100), b"\xdd" * 100)
        self.assertEqual(self.send_to(60, "destroy : NULL"), "success")
        self.assertEqual(received(third), b"")
        third.close()

    def test_a_recorders_next_input_hears_nothing_the_old_route_left_on_the_channel(self):
        # The server takes no session yet: the recorder's first one fails at once.
        server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.addCleanup(server.close)
        server.bind(("127.0.0.1", 0))
        channel = self.create_holding(61, recorder(server.getsockname()[1]))
        self.assertEqual(self.connect(1, 61), "success")
        self.assertEqual(self.slot_signal(61, "ioctl"), "stopRecording : connectionFail")
        # The disconnect is refused: the old call's route stands and fills the channel.
        self.board.ask("fail hal EBUSY 1000000")
        self.assertEqual(self.send_to(61, "disconnect : NULL"), DISCONNECT_FAIL)
        for _ in range(100):
            self.assertEqual(self.board.ask("tdm-frame 1 %s" % ("aa" * 100)), "1")
        self.board.ask("fail hal none")
        self.assertTrue(vx.wait_for(lambda: self.switch(channel) != "connected 1", 3))
        # The next call's session holds its own samples only.
        server.listen(1)
        server.settimeout(5)
        self.assertEqual(self.connect(2, 61), "success")
        session, _ = server.accept()
        self.addCleanup(session.close)
        self.assertEqual(self.board.ask("tdm-frame 2 %s" % ("bb" * 100)), "1")
        self.assertEqual(received(session, 100), b"\xbb" * 100)
        self.assertEqual(self.send_to(61, "destroy : NULL"), "success")

    # -- a disconnect in the pass of the connect

    def test_a_player_plays_on_after_a_disconnect_in_its_connects_pass(self):
        self.assertEqual(self.send_to(4, "create : trunk : { trunk 0, timeslot 4 }"), "success")
        for slot, last in ((74, (1, "disconnect : NULL")), (75, (4, "destroy : NULL"))):
            with self.subTest(last[1]):
                self.create_holding(slot, player("prompt.raw"))
                self.c.send_raw(vx.tpkt(self.encoded(slot, "connect : %d" % last[0])) +
                                vx.tpkt(self.encoded(last[0], last[1])))
                self.assertEqual(self.answers(2), ["success", "success"])
                # The prompt plays to its end, which alone ends the transmitter.
                self.assertIsNotNone(self.slot_signal(slot, "transmitter", "active"))
                self.assertIsNotNone(self.slot_signal(slot, "transmitter", "inactive"))
                self.assertEqual(self.slot_signal(slot, "abort"), "0")
                self.assertEqual(self.send_to(slot, "destroy : NULL"), "success")

    # -- a connect refused before its path was made

    def test_a_player_whose_connect_failed_plays_the_prompt_on_the_retry(self):
        channel = self.create_holding(70, player("prompt.raw"))
        far = FarEnd(os.path.join(self.daemon.path("/"), "far-70"))
        self.addCleanup(far.close)
        self.board.ask("tie 1 %s" % far.listener.getsockname())
        far.accept()
        # The connect and its retry in one write: the retry plays the whole prompt through its
        # path, once, and then ends.
        self.board.ask("fail hal EIO 1")
        self.assertEqual(self.connect_twice(70, 1), [CONNECT_FAIL, "success"])
        self.assertEqual(self.slot_signal(70, "abort"), "0")
        self.assertEqual(self.heard(far), PROMPT)
        self.assertEqual(self.send_to(70, "destroy : NULL"), "success")
        # Refused by a sink that takes no input yet (an ext slot not activated).
        self.create_holding(71, player("prompt.raw"))
        self.assertEqual(self.send_to(72, "create : ext : { transmitter 40, receiver 1 }"), "success")
        self.assertEqual(self.connect(71, 72), CONNECT_FAIL)
        self.assertEqual(self.send_to(72, ACTIVATE), "success")
        self.assertEqual(self.connect(71, 72), "success")
        self.assertEqual(self.slot_signal(71, "abort"), "0")
        self.assertEqual(self.heard(far), PROMPT)
        for slot in (71, 72):
            self.assertEqual(self.send_to(slot, "destroy : NULL"), "success")

    @staticmethod
    def heard(far):
        """One prompt's worth of what reached the far end, and whatever came with it."""
        got = b""
        while len(got) < len(PROMPT):
            got += far.recv()
        return got + b"".join(far.frames(0.3))

    def test_a_recorder_whose_connect_failed_records_the_retry_in_one_session(self):
        server = MediaServer()
        self.addCleanup(server.close)
        self.create_holding(80, recorder(server.port))
        self.board.ask("fail hal EIO 1")
        self.assertEqual(self.connect(1, 80), CONNECT_FAIL)
        server.listener.settimeout(0.5)
        with self.assertRaises(socket.timeout, msg="a session for a connect that failed"):
            server.listener.accept()
        self.assertEqual(self.connect(1, 80), "success")
        session = server.take()
        self.assertEqual(self.board.ask("tdm-frame 1 %s" % ("cc" * 50)), "1")
        self.assertEqual(received(session, 50), b"\xcc" * 50)
        # One session: the failed connect left none behind.
        server.listener.settimeout(0.3)
        with self.assertRaises(socket.timeout):
            server.listener.accept()
        self.assertFalse([f for f in self.pending if self.parse(f)[2].startswith("stopRecording")])
        self.assertEqual(self.send_to(80, "destroy : NULL"), "success")
        session.close()

    # -- the simulator's descriptors

    def test_a_duplicate_on_a_reused_number_reaches_its_own_device(self):
        self.assertEqual(self.send_to(90, "create : ats-qsig : { side user : NULL, log 0 }"), "success")
        self.assertEqual(self.send_to(94, rtp()), "success")
        self.assertEqual(self.send_to(94, rtp()), "success")
        self.assertEqual(self.send_to(90, "destroy : NULL"), "success")
        self.assertEqual(self.send_to(93, "create : isdn : { type pri, trunk 0, log 0, side user : NULL }"),
                         "success")
        self.assertNotIn("watch fail", self.daemon.output())
        for slot in (93, 94):
            self.assertEqual(self.send_to(slot, "destroy : NULL"), "success")


class ModemHolder(ModemTest):
    def test_a_refused_destroy_keeps_the_modem_from_the_next_slot(self):
        self.create(5, modem_params())
        self.assertIn("success", self.answer(self.start(5, 6)))
        self.assertEqual(self.board.ask("switch %d" % map_rx(6)), "connected 1024")
        self.board.ask("fail hal EBUSY 1000000")
        try:
            self.assertIn("success", self.answer(self.command(5, "destroy : NULL")))
            self.assertEqual(self.board.ask("switch %d" % map_rx(6)), "connected 1024")
            # The next modem slot's call starts on another modem while the old route stands.
            self.create(7, modem_params())
            self.start(7, 8)
            got = self.messages(lambda t: "slot 7" in t and "transmitter : active" in t)
            self.assertNotIn("transmitter : active : 1024", got[-1])
        finally:
            self.board.ask("fail hal none")
        self.assertTrue(vx.wait_for(lambda: self.board.ask("switch %d" % map_rx(6)) != "connected 1024", 3))


if __name__ == "__main__":
    vx.main()
