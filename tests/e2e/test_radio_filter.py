"""The source filter of a radio slot's extension session across a codec change or a hang-up of
the extension device: while a holder keeps PTT, the session made again takes packets from the
holder only."""

import vxharness as vx
import test_radio
import test_rtp
from test_hardware import UNSUPPORTED
from test_radio import LEMZ_STATUS, ed137_header

FOREIGN = "10.9.9.9"


class RadioFilterTest(test_rtp.CodecSessionTest):
    board_class = test_radio.Board
    send = test_radio.RadioTest.send
    create = test_radio.RadioTest.create

    def check_filter_survives(self, slot, holder, change, holder_packet):
        """The holder's filter is on the session; `change` reopens it; the new session has the
        same filter: a foreign packet reaches nothing and the holder's is the next report."""
        old = self.board.open_ext_session()
        self.assertEqual(self.board.ext_sessions()[old]["filter"], holder)
        self.assertEqual(self.send(slot, "ioctl : " + change), "success")
        new = self.board.open_ext_session()
        self.assertNotEqual(new, old)
        self.assertEqual(self.board.ext_sessions()[new]["filter"], holder)
        self.assertEqual(self.board.ext_packet(FOREIGN, 66, holder_packet), 0)
        self.assertEqual(self.board.ext_packet(holder, 9, holder_packet), 1)
        reported, request = self.signal("rtpExt")
        self.assertEqual(reported, slot)
        self.assertIn('addr { session-addr "%s", session-ssrc 9 }' % holder, request)
        self.assertEqual(self.send(slot, "destroy : NULL"), "success")

    def ed137_held(self, slot):
        """An ED-137 slot whose radio transmits for 10.2.0.9."""
        response = ("radio-response { type radio-txrx, txrxmode txrx, sigtime 1, r2s-keepalive-period 200, "
                    "r2s-keepalive-multiplier 10, ptt-id 0 }")
        radio = "{ status ed-137 : { header %s, %s } }" % (ed137_header(), response)
        self.assertEqual(self.create(slot, radio, before=", pfactor 2"), "success")
        self.assertEqual(self.send(slot, 'ioctl : rtpExt : ed-137 : { addr { session-addr "10.2.0.9", '
                                         "session-ssrc 9 }, params rx : { header %s } }"
                                   % ed137_header("normal-ptt-on", "squ-on", 5)), "success")

    def test_ed137_holder_keeps_the_filter(self):
        self.ed137_held(7)
        self.check_filter_survives(7, "10.2.0.9", "encoder-mode : alaw", "20412105")

    def test_ed137_session_hung_up_is_made_again_while_the_device_stays_away(self):
        self.ed137_held(6)
        old = self.board.open_ext_session()
        seen = len(self.daemon.output())
        try:
            self.board.ask("fail-open rtp-ext ENOENT")
            self.board.ask("hangup rtp-ext")
            self.assertTrue(vx.wait_for(lambda: int(self.board.ask("open rtp-ext")) == 0))
            self.assertTrue(vx.wait_for(lambda: "session hung up" in self.daemon.output()[seen:]))
        finally:
            self.board.ask("fail-open rtp-ext none")
        self.assertTrue(vx.wait_for(lambda: int(self.board.ask("open rtp-ext")) == 1, 3.0))
        new = self.board.open_ext_session()
        self.assertNotEqual(new, old)
        s = self.board.ext_sessions()[new]
        self.assertEqual((s["init"], s["attached"], s["filter"]), ("1", "1", "10.2.0.9"))
        self.assertEqual(self.board.ext_packet(FOREIGN, 66, "20412105"), 0)
        self.assertEqual(self.board.ext_packet("10.2.0.9", 9, "20412105"), 1)
        reported, request = self.signal("rtpExt")
        self.assertEqual(reported, 6)
        self.assertIn('addr { session-addr "10.2.0.9", session-ssrc 9 }', request)
        # One line for the whole loss, none for the tries while the device stayed away.
        lines = [line for line in self.daemon.output()[seen:].splitlines() if "rtp_ext" in line]
        self.assertEqual(len(lines), 1, lines)
        self.assertIn("rtp_ext session hung up", lines[0])
        self.assertEqual(self.send(6, "destroy : NULL"), "success")

    def lemz_given(self, slot, holder):
        """The LEMZ radio is given to holder (WM_TRANS); the answer."""
        flags = ("flags { prio 3, ptt TRUE, bss FALSE, vad-rx FALSE, vad-tx FALSE, sql FALSE, sh FALSE, pwr FALSE, "
                 "rv FALSE, resv FALSE, selcall 0, li 0 }")
        return self.send(slot, 'ioctl : rtpExt : lemz : { addr { session-addr "10.1.1.1", session-ssrc 9 }, '
                               'params wm-trans : { %s, ip "%s", ssrc 9 } }' % (flags, holder))

    def test_lemz_holder_keeps_the_filter(self):
        self.assertEqual(self.create(8, "{ status %s }" % LEMZ_STATUS), "success")
        self.assertEqual(self.lemz_given(8, "10.1.1.1"), "success")
        self.check_filter_survives(8, "10.1.1.1", "decoder-mode : ulaw", "03340000")

    def test_a_holder_that_is_no_address_is_refused_and_the_filter_stays(self):
        def ed137_tx(holder):
            return self.send(7, 'ioctl : rtpExt : ed-137 : { addr { session-addr "%s", session-ssrc 9 }, '
                                "params tx : { header %s } }" % (holder, ed137_header("normal-ptt-on", "squ-on", 5)))

        self.ed137_held(7)
        self.assertEqual(self.create(8, "{ status %s }" % LEMZ_STATUS), "success")
        self.assertEqual(self.lemz_given(8, "10.1.1.1"), "success")
        sessions = self.board.ext_sessions()
        self.assertEqual(sorted(s["filter"] for s in sessions.values()), ["10.1.1.1", "10.2.0.9"])
        for holder in ("no-such-host", "", "300.1.1.1", "10.1.1.1 junk"):
            with self.subTest(holder=holder):
                seen = len(self.daemon.output())
                self.assertEqual(ed137_tx(holder), UNSUPPORTED)
                self.assertEqual(self.lemz_given(8, holder), UNSUPPORTED)
                self.assertEqual(self.board.ext_sessions(), sessions)
                said = [line for line in self.daemon.output()[seen:].splitlines() if "command refused" in line]
                self.assertEqual(len(said), 2, said)
                self.assertTrue(all(line.endswith('command refused: holder address "%s" is not an IPv4 address'
                                                  % holder) for line in said), said)
        # The holders' reports still reach the controller.
        self.assertEqual(self.board.ext_packet("10.2.0.9", 9, "20412105"), 1)
        self.assertIn('session-addr "10.2.0.9"', self.signal("rtpExt")[1])
        # The short form an RTP create takes is taken here too.
        self.assertEqual(ed137_tx("10.2"), "success")
        self.assertIn("10.0.0.2", [s["filter"] for s in self.board.ext_sessions().values()])


if __name__ == "__main__":
    vx.main()
