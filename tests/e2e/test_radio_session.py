"""A radio slot's extension session, source filter and squelch gate hold what the device
confirmed: a session the device does not serve at a create, at a codec change or while the
daemon is short of descriptors is made again once it can be; a refused filter or gate is asked
for again; a transmit command given while the session is away is refused and changes nothing,
then or later, while a transmit PTT taken is carried to every session made later. Each case
ends with packets from the holder and from a foreign voice system after the device serves
again: only the holder's reach the controller. A squelch-gated receive path moves with the
squelch alone: a connect, a disconnect or the source's destroy leaves it as the gate set it."""

import resource
import time

import vxharness as vx
import test_radio
import test_rtp
from test_radio import ed137_header
from test_resources import leave_free_descriptors, sanitized

HOLDER = "10.2.0.9"
FOREIGN = "10.9.9.9"
PTT_ON = "20412105"  # a tx extension: normal PTT, id 1
UNSUPPORTED = 6


class RadioSessionTest(test_rtp.CodecSessionTest):
    board_class = test_radio.Board
    send = test_radio.RadioTest.send
    create = test_radio.RadioTest.create

    def ed137(self, slot, squelch_gate=False):
        response = ("radio-response { type radio-txrx, txrxmode txrx, sigtime 1, r2s-keepalive-period 200, "
                    "r2s-keepalive-multiplier 10, ptt-id 0%s }"
                    % (", transmission-depend-on-squ TRUE" if squelch_gate else ""))
        radio = "{ status ed-137 : { header %s, %s } }" % (ed137_header(), response)
        return self.create(slot, radio, before=", pfactor 2")

    def radio_state(self, slot, params, holder=HOLDER):
        return self.send(slot, 'ioctl : rtpExt : ed-137 : { addr { session-addr "%s", session-ssrc 9 }, params %s }'
                         % (holder, params))

    def hold(self, slot, ptt="normal-ptt-on"):
        """The radio transmits for the holder (ptt-off: for nobody)."""
        return self.radio_state(slot, "rx : { header %s }" % ed137_header(ptt, "squ-on", 5))

    def open_sessions(self):
        return [n for n, s in self.board.ext_sessions().items() if s["open"] == "1"]

    def served_again(self, after):
        """The one open session, made after session `after`, once the daemon made it."""
        self.assertTrue(vx.wait_for(lambda: any(n > after for n in self.open_sessions()), 8.0),
                        self.board.ext_sessions())
        session = self.board.open_ext_session()
        s = self.board.ext_sessions()[session]
        self.assertEqual((s["init"], s["attached"]), ("1", "1"))
        return session

    def only_holder_reported(self, slot, session):
        """The session filters for the holder: a foreign PTT reaches nothing, the holder's is
        reported."""
        self.assertTrue(vx.wait_for(lambda: self.board.ext_sessions()[session]["filter"] == HOLDER),
                        self.board.ext_sessions()[session])
        self.assertEqual(self.board.ext_packet(FOREIGN, 66, PTT_ON), 0)
        self.assertEqual(self.board.ext_packet(HOLDER, 9, PTT_ON), 1)
        reported, request = self.signal("rtpExt")
        self.assertEqual(reported, slot)
        self.assertIn('addr { session-addr "%s", session-ssrc 9 }' % HOLDER, request)

    def away(self, slot, ptt):
        """The answer to a transmit PTT given while the device is away (hung up, opens refused)."""
        seen = len(self.daemon.output())
        try:
            self.board.ask("fail-open rtp-ext ENOENT")
            self.board.ask("hangup rtp-ext")
            self.assertTrue(vx.wait_for(lambda: "session hung up" in self.daemon.output()[seen:]))
            return self.radio_state(slot, "tx : { header %s }" % ed137_header(ptt, ptt_id=5))
        finally:
            self.board.ask("fail-open rtp-ext none")

    def keying(self, session):
        """What the session was sent with the PTT on (its first byte's top bits); the periodic
        receive reports, which leave on their own timer, say nothing of who holds the radio."""
        return [r for r in self.board.ext_sent(session) if int(r[:2], 16) >> 5]

    def newest_session(self):
        return max(self.board.ext_sessions(), default=0)

    def test_create_and_codec_change_while_the_device_refuses_opens(self):
        try:
            self.board.ask("fail-open rtp-ext EIO")
            # The slot carries media without radio signalling for now.
            self.assertEqual(self.ed137(6), "success")
            self.assertEqual(self.open_sessions(), [])
            self.assertEqual(self.hold(6), "success")
        finally:
            self.board.ask("fail-open rtp-ext none")
        session = self.served_again(0)
        self.only_holder_reported(6, session)

        # A codec change: made, but it answers with the extension session's start; the session
        # is made later all the same.
        try:
            self.board.ask("fail-open rtp-ext EIO")
            self.assertEqual(self.send(6, "ioctl : encoder-mode : ulaw"), UNSUPPORTED)
            self.assertEqual(self.open_sessions(), [])
            self.assertEqual([s["tx_pt"] for s in self.board.sessions().values()], ["0"])
        finally:
            self.board.ask("fail-open rtp-ext none")
        self.only_holder_reported(6, self.served_again(session))
        self.assertEqual(self.send(6, "destroy : NULL"), "success")

    def test_refused_filter_set_and_reset_are_asked_for_again(self):
        self.assertEqual(self.ed137(7), "success")
        session = self.board.open_ext_session()
        self.board.ask("fail rtp-ext EIO 1 RTP_EXT_SET_FILTER")
        self.assertEqual(self.hold(7), "success")
        self.only_holder_reported(7, session)

        # PTT off: the refused reset is made again, and every voice system is heard.
        self.board.ask("fail rtp-ext EIO 1 RTP_EXT_RESET_FILTER")
        self.assertEqual(self.hold(7, "ptt-off"), "success")
        self.assertTrue(vx.wait_for(lambda: self.board.ext_sessions()[session]["filter"] == "-"),
                        self.board.ext_sessions()[session])
        self.assertEqual(self.board.ext_packet(FOREIGN, 66, PTT_ON), 1)
        reported, request = self.signal("rtpExt")
        self.assertIn('addr { session-addr "%s", session-ssrc 66 }' % FOREIGN, request)
        self.assertEqual(self.send(7, "destroy : NULL"), "success")

    def test_refused_squelch_gate_start_and_stop_are_asked_for_again(self):
        self.assertEqual(self.ed137(8, squelch_gate=True), "success")
        receiving = lambda: [s["receiving"] for s in self.board.sessions().values()]
        self.assertEqual(receiving(), ["0"])
        for squelch, expected, request in (("squ-on", "1", "RTP_START_RX"), ("squ-off", "0", "RTP_STOP_RX")):
            self.board.ask("fail rtp EIO 1 " + request)
            self.assertEqual(self.radio_state(8, "rx : { header %s }" % ed137_header(squ=squelch)), "success")
            self.assertTrue(vx.wait_for(lambda: receiving() == [expected]), receiving())
        self.assertEqual(self.send(8, "destroy : NULL"), "success")

    def test_a_gated_receive_path_follows_the_squelch_alone_across_disconnects(self):
        channels = lambda: set(self.board.sessions())
        receiving = lambda channel: self.board.sessions()[channel]["receiving"]
        self.assertEqual(self.ed137(11, squelch_gate=True), "success")
        (gated,) = channels()
        self.assertEqual(self.ed137(14), "success")
        (plain,) = channels() - {gated}
        for source in (12, 13):
            self.assertEqual(self.send(source, test_rtp.rtp()), "success")
        squelch = lambda squ: self.radio_state(11, "rx : { header %s }" % ed137_header(squ=squ))
        self.assertEqual(squelch("squ-on"), "success")
        # Neither a connect, a disconnect nor the source's destroy stops the voice.
        for slot, command in ((12, "connect : 11"), (11, "disconnect : NULL"), (12, "connect : 11"),
                              (12, "destroy : NULL")):
            self.assertEqual((self.send(slot, command), receiving(gated)), ("success", "1"), command)
        # Nor does a connect start it while the squelch is closed.
        self.assertEqual((squelch("squ-off"), receiving(gated)), ("success", "0"))
        self.assertEqual((self.send(13, "connect : 11"), receiving(gated)), ("success", "0"))
        # Without the gate the source moves it, as on any RTP slot.
        for slot, command, expected in ((13, "connect : 14", "1"), (14, "disconnect : NULL", "0"),
                                        (13, "connect : 14", "1")):
            self.assertEqual((self.send(slot, command), receiving(plain)), ("success", expected), command)
        for slot in (11, 13, 14):
            self.assertEqual(self.send(slot, "destroy : NULL"), "success")

    def test_transmit_command_while_the_session_is_away_is_refused_and_dropped(self):
        self.assertEqual(self.ed137(9), "success")
        old = self.board.open_ext_session()
        # Not on the board: the answer says so, and nothing of the command is kept.
        self.assertEqual(self.away(9, "normal-ptt-on"), UNSUPPORTED)
        session = self.served_again(old)
        # The new session keys nothing, and hears every voice system: the radio is nobody's.
        time.sleep(0.3)
        self.assertEqual(self.keying(session), [])
        self.assertEqual(self.board.ext_sessions()[session]["filter"], "-")
        self.assertEqual(self.board.ext_packet(FOREIGN, 66, PTT_ON), 1)
        reported, request = self.signal("rtpExt")
        self.assertIn('addr { session-addr "%s", session-ssrc 66 }' % FOREIGN, request)
        # The command given again is taken.
        self.assertEqual(self.radio_state(9, "tx : { header %s }" % ed137_header("normal-ptt-on", ptt_id=5)),
                         "success")
        self.assertEqual(self.keying(session), ["21400000"])
        self.only_holder_reported(9, session)
        # The PTT taken is held: the session of a codec change is keyed before the change is
        # answered, and so is one made again after the device was away, while a repeated PTT-on
        # meets no session and is refused.
        self.assertEqual(self.send(9, "ioctl : encoder-mode : ulaw"), "success")
        session = self.board.open_ext_session()
        self.assertEqual(self.board.ext_sent(session)[:1], ["21400000"])
        self.assertEqual(self.away(9, "normal-ptt-on"), UNSUPPORTED)
        again = self.served_again(session)
        self.assertTrue(vx.wait_for(lambda: self.board.ext_sent(again)), self.board.ext_sessions()[again])
        self.assertEqual(self.board.ext_sent(again)[0], "21400000")
        self.assertEqual(self.send(9, "destroy : NULL"), "success")

    def test_session_made_while_descriptors_are_short_is_made_again_once_they_are_back(self):
        if sanitized(vx.DAEMON):
            self.skipTest("the sanitizer's own checks need descriptors")
        self.assertEqual(self.ed137(10), "success")
        self.assertEqual(self.hold(10), "success")
        old = self.board.open_ext_session()
        pid = self.daemon.pid()
        soft, hard = resource.prlimit(pid, resource.RLIMIT_NOFILE)
        seen = len(self.daemon.output())
        unwatched = lambda: [n for n, s in self.board.ext_sessions().items()
                             if n > old and s["open"] == "0" and s["attached"] == "1"]
        try:
            self.board.ask("fail-open rtp-ext ENOENT")
            self.board.ask("hangup rtp-ext")
            self.assertTrue(vx.wait_for(lambda: "session hung up" in self.daemon.output()[seen:]))
            # Two descriptors free: enough for a session, none for its watch.
            leave_free_descriptors(self, pid, 2)
            self.board.ask("fail-open rtp-ext none")
            # Each try makes a session it cannot watch and closes it; the loss is logged once.
            self.assertTrue(vx.wait_for(lambda: len(unwatched()) >= 2, 10.0), self.board.ext_sessions())
        finally:
            resource.prlimit(pid, resource.RLIMIT_NOFILE, (soft, hard))
            self.board.ask("fail-open rtp-ext none")
        self.assertEqual(self.daemon.output()[seen:].count("watch rtp_ext session fail !!!"), 1,
                         self.daemon.output()[seen:])
        self.only_holder_reported(10, self.served_again(old))
        self.assertEqual(self.send(10, "destroy : NULL"), "success")


if __name__ == "__main__":
    vx.main()
