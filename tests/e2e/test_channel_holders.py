"""Slots that hold a controller channel (players, recorders, T.38 slots) keep it until no route
into or out of it stands: a destroy the switch refused, a channel the board took back and an
engine that ended leave no route of the old call to the next slot given the number. A channel
the board hands out again while an old route of it stands goes to no new slot, and a trunk
timeslot or mixer channel with such a route is refused; once the switch takes the takedowns,
every channel is free again. A link slot whose channel is lost tells the controller its streams
went, and came back with the next channel. A recorder moved to another call records only that
call, in a session of its own, and none of what the old route left on its channel; a player or
recorder whose connect failed before its path was made starts afresh on the retry, while a
disconnect, even in the connect's own pass, leaves the play or the recording going. The
simulator tells duplicated descriptors apart by their device."""

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
INSUFFICIENT = 1
RTP_CHANNEL = 2048
QSIG = "create : ats-qsig : { side user : NULL, log 0 }"
ISDN = "create : isdn : { type pri, trunk 0, log 0, side user : NULL }"
IDLE = "constant 213"
MCC = "create : mcc : { type data, mode standard }"
PROMPT = bytes(range(256)) * 12
ACTIVATE = ('activate : modem : { remoteAddr "10.0.0.2", netmask "255.0.0.0", gateway "10.0.0.1", '
            'dns "10.0.0.1", mtu 1500 }')


def recorder(port):
    return 'create : voice : record : { iaddr "127.0.0.1", port %d }' % port


def player(name, repeat=1):
    return 'create : voice : player : file : { name { "%s" }, repeat %d }' % (name, repeat)


def t38(port, args=""):
    return ('create : t38soft : { dhost { iaddr "127.0.0.1", port %d }, shost { iaddr "10.0.0.1", port 4002 }, '
            "rx-packet-size 160, rx-threshold 2, tx-threshold 3, args { %s } }" % (port, args))


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

    def destroy(self, *slots):
        for slot in slots:
            self.assertEqual(self.send_to(slot, "destroy : NULL"), "success")

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
        self.destroy(lost, 50)

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

    # -- a channel an old route still touches goes to no new slot

    def refuse(self):
        self.board.ask("fail hal EBUSY 1000000")

    def tie(self, slot, trunk, both=True):
        """The trunk slot feeds slot and, with both, slot feeds it."""
        self.assertEqual(self.connect(trunk, slot), "success")
        if both:
            self.assertEqual(self.connect(slot, trunk), "success")

    def fed(self, channel, trunk):
        return self.switch(channel) == "connected %d" % trunk

    def faults_clear(self, channel, trunk, gone=None):
        """The old route from trunk into channel stood until now; once the switch takes requests it
        goes, and so does what kept the channel (gone(): it is no longer held)."""
        self.assertTrue(self.fed(channel, trunk))
        self.board.ask("fail hal none")
        self.assertTrue(vx.wait_for(lambda: not self.fed(channel, trunk), 3), self.switch(channel))
        gone = gone or (lambda: channel not in self.open_channels())
        self.assertTrue(vx.wait_for(gone, 3), "still held after the faults cleared")

    def test_a_channel_the_board_hands_out_again_goes_to_no_new_slot_while_routed(self):
        # (kind, create, destroyed first, how the board takes the channel back)
        cases = (("recorder", recorder(9), False, "hdlc-hangup %d"),
                 ("mcc", MCC, True, "hangup mcc"),
                 ("isdn", ISDN, True, "hangup mcc"))
        for n, (kind, command, destroyed, take_back) in enumerate(cases):
            with self.subTest(kind):
                old, new = 20 + 2 * n, 21 + 2 * n
                channel = self.create_holding(old, command)
                self.tie(old, 1, both=kind != "recorder")
                self.refuse()
                if destroyed:
                    self.destroy(old)
                self.board.ask(take_back % channel if "%" in take_back else take_back)
                before = self.open_channels()
                self.assertEqual(self.send_to(new, MCC), "success")
                # The old number, if the board offered it, is kept aside: the slot has another.
                (other,) = self.open_channels() - before - {channel}
                self.faults_clear(channel, 1)
                self.assertIn(other, self.open_channels())
                self.destroy(new, *(() if destroyed else (old,)))

    def test_an_rtp_channel_the_board_took_back_goes_to_no_new_session_while_routed(self):
        self.assertEqual(self.send_to(24, rtp()), "success")
        self.tie(24, 1)
        self.refuse()
        self.board.ask("hangup rtp")
        self.assertEqual(self.send_to(25, rtp()), "success")
        self.assertEqual(self.slot_signal(25, "receiver", "active"), "active : %d" % (RTP_CHANNEL + 1))
        self.faults_clear(RTP_CHANNEL, 1, lambda: RTP_CHANNEL not in self.board.sessions())
        self.destroy(24, 25)

    def test_an_ats_qsig_slot_keeps_its_b_channels_while_routed(self):
        signalling = self.create_holding(30, QSIG)
        self.assertEqual(self.send_to(31, "create : ats-qsig-b : { slot 30, subslot 1 }"), "success")
        self.tie(31, 1)
        b = int(self.slot_signal(31, "receiver", "active").split(" : ")[1])
        self.refuse()
        self.destroy(31, 30)
        # The signalling channel, and with it the B channels, stay with the old slot.
        self.assertIn(signalling, self.open_channels())
        self.assertEqual(self.send_to(32, QSIG), "success")
        self.assertEqual(self.send_to(33, "create : ats-qsig-b : { slot 32, subslot 1 }"), "success")
        self.faults_clear(b, 1, lambda: signalling not in self.open_channels())
        self.tie(33, 2, both=False)
        self.assertNotEqual(self.slot_signal(33, "receiver", "active"), "active : %d" % b)
        self.destroy(33, 32)

    def test_a_named_channel_an_old_route_touches_is_refused(self):
        self.board.ask("mixer-unit 0 8 8")
        self.answer(self.encoded(None, "query : NULL"))  # the daemon finds the unit
        mixer = 3072 + 3
        self.assertEqual(self.send_to(24, rtp()), "success")
        # (the create, the slot it made and the next one, the connects that route it, the route
        # that then stands); trunk slot 3 is there from the start, tied both ways to an RTP session.
        cases = (("create : mixerIn : { unit 0, channel tdm : 3 }", (40, 41), ((1, 40),), lambda: self.fed(mixer, 1)),
                 ("create : mixerOut : { unit 0, channel tdm : 3, inputs { } }", (40, 41), ((40, 1),),
                  lambda: self.fed(1, mixer)),
                 ("create : trunk : { trunk 0, timeslot 3 }", (3, 3), ((3, 24), (24, 3)),
                  lambda: self.fed(3, RTP_CHANNEL)),
                 ("create : map : { transmitter { bus 2, channel 0 }, receiver { bus 2, channel 0 } }", (40, 41),
                  ((1, 40),), lambda: self.fed(8192 + 256, 1)))
        for command, (old, new), connects, stands in cases:
            with self.subTest(command):
                if old != new:
                    self.assertEqual(self.send_to(old, command), "success")
                for src, dst in connects:
                    self.assertEqual(self.connect(src, dst), "success")
                self.refuse()
                self.destroy(old)
                self.assertTrue(stands())
                self.assertEqual(self.send_to(new, command), INSUFFICIENT)
                self.board.ask("fail hal none")
                self.assertTrue(vx.wait_for(lambda: not stands(), 3))
                self.assertEqual(self.send_to(new, command), "success")
                if old != new:
                    self.destroy(new)
        self.destroy(24)

    def test_a_create_takes_a_free_channel_behind_every_routed_one(self):
        # Ten recorders hear trunk timeslots; the controller channels are taken back while the
        # switch refuses, so their ten takedowns are owed and the board offers those numbers first.
        for slot in range(4, 11):
            self.assertEqual(self.send_to(slot, "create : trunk : { trunk 0, timeslot %d }" % slot), "success")
        routed = [self.create_holding(20 + n, recorder(9)) for n in range(10)]
        for n in range(10):
            self.assertEqual(self.connect(1 + n, 20 + n), "success")
        self.refuse()
        self.board.ask("hangup mcc")
        self.assertTrue(vx.wait_for(lambda: not self.open_channels()), self.open_channels())
        self.destroy(*range(20, 30))
        # The six free channels are handed out past the routed ones, which stay aside; then none.
        for slot in range(30, 36):
            self.assertEqual(self.send_to(slot, recorder(9)), "success")
        self.assertEqual(len(self.open_channels() - set(routed)), 6)
        self.assertEqual(self.send_to(36, recorder(9)), INSUFFICIENT)
        self.faults_clear(routed[0], 1, lambda: not self.open_channels() & set(routed))
        self.assertEqual(self.send_to(36, recorder(9)), "success")
        self.destroy(*range(30, 37))

    def test_a_replaced_map_slots_routes_keep_its_channel_from_the_new_slot(self):
        bus = "create : map : { transmitter { bus 1, channel 6 }, receiver { bus 1, channel 6 } }"
        output = 8192 + 128 + 6
        self.assertEqual(self.send_to(5, "create : trunk : { trunk 0, timeslot 5 }"), "success")
        self.assertEqual(self.send_to(40, bus), "success")
        self.tie(40, 5)
        self.refuse()
        # The old slot goes, and its routes stand until the switch takes them down.
        self.assertEqual(self.send_to(41, bus), INSUFFICIENT)
        self.assertNotEqual(self.connect(5, 40), "success")
        self.board.ask("fail hal none")
        self.assertTrue(vx.wait_for(lambda: not self.fed(output, 5) and not self.fed(5, output), 3))
        # Then a replacement is made at once.
        self.assertEqual(self.send_to(41, bus), "success")
        self.assertEqual(self.send_to(42, bus), "success")
        self.destroy(42)

    def test_a_t38_channel_the_board_took_back_is_lost(self):
        # Lost when the channel's descriptor hangs up, not when (or if) the engine ends.
        channel = self.create_holding(42, t38(udp_port(), '"--linger"'))
        self.tie(42, 2)
        self.assertTrue(self.fed(2, channel))
        self.board.ask("hangup mcc")
        self.assertTrue(vx.wait_for(lambda: not self.fed(2, channel) and not self.fed(channel, 2), 3))
        self.assertEqual(self.slot_signal(42, "abort"), str(signal.SIGTERM))  # the engine stopped
        self.check_alone(42, channel)

    def test_a_link_slot_that_lost_its_channel_signals_its_streams(self):
        self.assertEqual(self.send_to(16, "create : trunk : { trunk 0, timeslot 16 }"), "success")
        for slot, command in ((44, ISDN), (45, QSIG)):
            with self.subTest(command):
                channel = self.create_holding(slot, command)
                self.tie(slot, 16)
                self.board.ask("hdlc-hangup %d" % channel)
                for stream in ("receiver", "transmitter"):
                    self.assertEqual(self.slot_signal(slot, stream, "inactive"), "inactive : NULL")
                self.assertEqual(self.send_to(slot, "activate : empty : NULL"), "success")
                for stream in ("receiver", "transmitter"):
                    got = self.slot_signal(slot, stream, "active")
                    self.assertIsNotNone(got)
                    self.assertIn(int(got.split(" : ")[1]), self.open_channels())
                self.destroy(slot)

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
        self.refuse()
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
        self.destroy(61)

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
                self.destroy(slot)

    # -- a connect refused before its path was made

    def test_a_player_whose_connect_failed_plays_the_prompt_on_the_retry(self):
        channel = self.create_holding(70, player("prompt.raw"))
        far = FarEnd(os.path.join(self.daemon.path("/"), "far-70"))
        self.addCleanup(far.close)
        self.board.ask("tie 1 %s" % far.listener.getsockname())
        far.accept()
        # The connect and its retry in one write: the retry plays the whole prompt through its
        # path, once, and then ends.
        with vx.failing(self.board, "hal", "EIO", "MUX_CONNECT", first=1):
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
        self.destroy(71, 72)

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
        channel = self.create_holding(80, recorder(server.port))
        with vx.failing(self.board, "hal", "EIO", "MUX_CONNECT", first=channel):
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
        self.destroy(93, 94)


class ModemHolder(ModemTest):
    def test_a_refused_destroy_keeps_the_modem_from_the_next_slot(self):
        for take_back in (False, True):
            with self.subTest(take_back=take_back):
                self.refused_destroy_case(take_back)

    def refused_destroy_case(self, take_back):
        """Modem slot 5 destroyed while the switch refuses; with take_back, the board then takes
        back the modem the route book kept."""
        self.create(5, modem_params())
        self.assertIn("success", self.answer(self.start(5, 6)))
        self.assertEqual(self.board.ask("switch %d" % map_rx(6)), "connected 1024")
        self.board.ask("fail hal EBUSY 1000000")
        try:
            self.assertIn("success", self.answer(self.command(5, "destroy : NULL")))
            self.assertEqual(self.board.ask("switch %d" % map_rx(6)), "connected 1024")
            if take_back:
                self.board.ask("hangup mctl")
            # The next modem slot's call starts on another modem while the old route stands.
            self.create(7, modem_params())
            self.start(7, 8)
            got = self.messages(lambda t: "slot 7" in t and "transmitter : active" in t)
            self.assertNotIn("transmitter : active : 1024", got[-1])
        finally:
            self.board.ask("fail hal none")
        self.assertTrue(vx.wait_for(lambda: self.board.ask("switch %d" % map_rx(6)) != "connected 1024", 3))
        self.assertIn("success", self.answer(self.command(7, "destroy : NULL")))


if __name__ == "__main__":
    vx.main()
