"""Radio RTP slots end to end: slots created over TCP (value notation through vx_lgcp_text),
radio signalling from the extension device arriving as "rtpExt" signals, radio ioctls leaving
as header extensions byte for byte, and destruction."""

import vxharness as vx
import test_rtp
from test_rtp import udp_port

LEMZ_STATUS = ('lemz : { flags { prio 15, ptt FALSE, bss FALSE, vad-rx FALSE, vad-tx FALSE, sql FALSE, sh FALSE, '
               'pwr FALSE, rv FALSE, resv FALSE, selcall 0, li 0 }, freq { channel 3, frequency "145.5" }, '
               'remote { no 1, ch 2 }, squelshe on, rte a1b, standby-state-channel active, standby-group 4, '
               'standby-state-receiver standby }')

LEMZ_FLAGS = ("flags { prio 3, ptt TRUE, bss FALSE, vad-rx FALSE, vad-tx FALSE, sql FALSE, sh FALSE, pwr FALSE, "
              "rv FALSE, resv FALSE, selcall 0, li 0 }")


def ed137_header(ptt="ptt-off", squ="squ-off", ptt_id=0):
    return ("{ ptt %s, squ %s, ptt-id %d, ptt-mute FALSE, ptt-summation FALSE, sct FALSE }" % (ptt, squ, ptt_id))


def create_command(radio, payload="ptG711-Alaw", before="", after=""):
    return ('create : rtp : { codecRTP { payload %s, dhost { iaddr "127.0.0.1", port %d }%s, '
            "radio %s%s }, txPayload %s, rxPayload %s }"
            % (payload, udp_port() - 1, before, radio, after, payload, payload))


class Board(test_rtp.Board):
    listings = test_rtp.Board.listings + ("rtp-ext-sessions", "rtp-ext-sent")

    def ext_sessions(self):
        return test_rtp.numbered(self.ask("rtp-ext-sessions"))

    def open_ext_session(self):
        open_ones = [n for n, s in self.ext_sessions().items() if s["open"] == "1"]
        assert len(open_ones) == 1, open_ones
        return open_ones[0]

    def ext_sent(self, session):
        return self.ask("rtp-ext-sent %d 4096" % session)

    def ext_packet(self, source, ssrc, data):
        return int(self.ask("rtp-ext-packet %s %d %s" % (source, ssrc, data)))


class RadioTest(test_rtp.CodecSessionTest):
    board_class = Board

    def send(self, slot, command):
        return self.send_to(slot, command)

    def create(self, slot, radio, payload="ptG711-Alaw", before="", after=""):
        return self.send(slot, create_command(radio, payload, before, after))

    def forged(self, slot, command):
        """The command with its one value 2147483647 beyond an ENUMERATED's root made 2^31, in
        the form our encoder writes such values (value + 1 in four octets, then the value)."""
        self.seq += 1
        octets = self.codec.encode("{ seq %d, slot %d, pdu command : %s }" % (self.seq, slot, command)).hex()
        largest = "0480000000c07fffffff"
        self.assertEqual(octets.count(largest), 1, octets)
        return bytes.fromhex(octets.replace(largest, "0480000001c080000000"))

    def dropped(self, payload):
        """Sends a command the daemon must not decode: a decode error line and no answer."""
        errors = lambda: self.daemon.output().count("receive fail: decode error!")
        before = errors()
        self.c.send(payload)
        self.assertTrue(vx.wait_for(lambda: errors() > before), self.daemon.output()[-2000:])

    def wait_sent(self, session, count):
        self.assertTrue(vx.wait_for(lambda: len(self.board.ext_sent(session)) >= count, 5),
                        self.board.ext_sent(session))
        return self.board.ext_sent(session)

    def test_lemz_slot_reports_requests_and_sends_commands(self):
        self.assertEqual(self.create(3, "{ status %s }" % LEMZ_STATUS), "success")
        session = self.board.open_ext_session()
        s = self.board.ext_sessions()[session]
        self.assertEqual((s["init"], s["etype"], s["mode"], s["attached"]), ("1", "0x1337", "0", "1"))
        self.assertEqual(s["pid_rtp"], str(self.daemon.pid()))

        # A workstation takes the radio: GW_FLAG_PTT, priority 3, from 10.1.1.1.
        self.assertEqual(self.board.ext_packet("10.1.1.1", 5, "03340000"), 1)
        slot, request = self.signal("rtpExt")
        self.assertEqual(slot, 3)
        self.assertIn('freq { channel 3, frequency "145.500000" }', request)
        self.assertIn('request lemz : { addr { session-addr "10.1.1.1", session-ssrc 5 }, '
                      "params gw-set-ptt : { flags { prio 3, ptt TRUE,", request)

        # The controller gives the radio to that session: WM_TRANS, octets of the address reversed.
        self.assertEqual(self.send(3, 'ioctl : rtpExt : lemz : { addr { session-addr "10.1.1.1", session-ssrc 5 }, '
                                      'params wm-trans : { %s, ip "10.1.1.1", ssrc 5 } }' % LEMZ_FLAGS), "success")
        self.assertIn("82340000" + "0101010A" + "00000005", self.wait_sent(session, 1))
        self.assertEqual(self.board.ext_sessions()[session]["filter"], "10.1.1.1")
        # An ED-137 command is not this slot's: refused.
        self.assertEqual(self.send(3, 'ioctl : rtpExt : ed-137 : { addr { session-addr "10.1.1.1", session-ssrc 5 }, '
                                      "params tx : { header %s } }" % ed137_header("normal-ptt-on")), 6)

        self.board.ask("clear-requests")
        self.assertEqual(self.send(3, "destroy : NULL"), "success")
        s = self.board.ext_sessions()[session]
        self.assertEqual((s["open"], s["attached"]), ("0", "0"))
        self.assertEqual(self.board.sessions(), {})

    def test_lemz_slot_joining_another_process_session_and_factories_declining(self):
        opened = len(self.board.ext_sessions())
        self.assertEqual(self.create(4, "{ status %s }" % LEMZ_STATUS,
                                     after=", rtp-e2m { slot 1, channel 2, mode only-rtp : { fd 33, pid 77 } }"),
                         "success")
        self.assertEqual(len(self.board.ext_sessions()), opened, "no extension session of its own")
        channel, fields = next(iter(self.board.sessions().items()))
        self.assertEqual(fields["attach"], "33/77")
        self.assertEqual(len(self.board.records("RTP_ATTACH")), 1)
        # The packets go out through the other process's session: radio commands are taken.
        for params in ('wm-trans : { %s, ip "10.1.1.1", ssrc 5 }' % LEMZ_FLAGS,
                       "wm-remote : { remote { no 2, ch 3 } }"):
            self.assertEqual(self.send(4, 'ioctl : rtpExt : lemz : { addr { session-addr "10.1.1.1", session-ssrc 5 }, '
                                          'params %s }' % params), "success")
        # A codec change on a slot that only joined begins a new session, which joins too; the
        # old one is gone with its channel.
        self.assertEqual(self.send(4, "ioctl : encoder-mode : ulaw"), "success")
        self.assertEqual(len(self.board.records("RTP_ATTACH")), 2)
        sessions = self.board.sessions()
        self.assertEqual(list(sessions), [channel])
        self.assertEqual((sessions[channel]["tx_pt"], sessions[channel]["attach"]), ("0", "33/77"))
        self.assertEqual(self.send(4, "destroy : NULL"), "success")

        self.assertEqual(self.create(5, "{ status %s }" % LEMZ_STATUS, payload="ptT38-UDP-TL"), 1)

    def test_ed137_slot_keepalive_ptt_and_destroy(self):
        response = ("radio-response { type radio-txrx, txrxmode txrx, sigtime 1, r2s-keepalive-period 200, "
                    "r2s-keepalive-multiplier 10, ptt-id 0 }")
        radio = "{ status ed-137 : { header %s, %s } }" % (ed137_header(squ="squ-on", ptt_id=2), response)
        self.assertEqual(self.create(6, radio, before=", pfactor 2"), "success")
        session = self.board.open_ext_session()
        # The initial status leaves at once as an rx extension: squelch open, PTT id 2.
        self.assertEqual(self.wait_sent(session, 1)[0], "10800000")

        # The voice system keys the radio: a tx extension, PTT normal, id 1, a CLIMAX delay; then
        # a PTT type beyond the named ones, which the controller gets as it is.
        for data, ptt in (("20412105", "normal-ptt-on"), ("A0400000", "5")):
            self.assertEqual(self.board.ext_packet("10.2.2.2", 77, data), 1)
            slot, request = self.signal("rtpExt")
            self.assertEqual(slot, 6)
            self.assertIn("squ squ-on", request)
            self.assertIn('request ed-137 : { addr { session-addr "10.2.2.2", session-ssrc 77 }, params tx : '
                          "{ header { ptt %s, squ squ-off, ptt-id 1," % ptt, request)

        # The controller answers: the radio transmits, signal quality 3 by AGC.
        self.assertEqual(self.send(6, 'ioctl : rtpExt : ed-137 : { addr { session-addr "10.2.2.2", '
                                      "session-ssrc 77 }, params rx : { header %s, sqi { bss-method agc, "
                                      "bss-quality 3 } } }" % ed137_header("normal-ptt-on", "squ-on", 5)), "success")
        self.assertIn("31411119", self.wait_sent(session, 2))
        # (The keep-alive watch's "abort", the ticks and their end are held by the unit tests.)
        self.assertEqual(self.send(6, "destroy : NULL"), "success")
        self.assertEqual(self.board.ext_sessions()[session]["open"], "0")

    def test_a_codec_change_adds_the_new_channel_with_the_best_signal_flag_of_the_create(self):
        # Word 3 of each add-channel block, the create's and both restarts'.
        flags = lambda: [int(r[24:32], 16) for r in self.board.records("RTP_ADD_CHANNEL")]
        ed137 = "ed-137 : { header %s }" % ed137_header()
        for slot, status, bss in ((3, LEMZ_STATUS, True), (4, ed137, True), (5, LEMZ_STATUS, False)):
            with self.subTest(slot=slot):
                self.board.ask("clear-requests")
                radio = "{ status %s, bss-enable %s }" % (status, str(bss).upper())
                self.assertEqual(self.create(slot, radio), "success")
                for change in ("encoder-mode : ulaw", "decoder-mode : ulaw"):
                    self.assertEqual(self.send(slot, "ioctl : " + change), "success")
                self.assertEqual(flags(), [int(bss)] * 3)
                self.assertEqual(self.send(slot, "destroy : NULL"), "success")

    def test_ed137_values_beyond_a_signed_word_are_dropped_and_reports_go_on(self):
        largest = "2147483647"  # made 2^31 on the wire
        response = ("radio-response { type radio-txrx, txrxmode txrx, sigtime 1, r2s-keepalive-period 200, "
                    "r2s-keepalive-multiplier 10, ptt-id 0 }")
        radio = "{ status ed-137 : { header %s, %s } }"
        self.dropped(self.forged(7, create_command(radio % (ed137_header(squ=largest), response))))
        self.assertEqual(self.create(7, radio % (ed137_header(), response)), "success")
        rx = ('ioctl : rtpExt : ed-137 : { addr { session-addr "10.2.2.2", session-ssrc 77 }, '
              "params rx : { header %s, sqi { bss-method %s, bss-quality 3 } } }")
        for header, method in ((ed137_header(ptt=largest), "agc"), (ed137_header(squ=largest), "agc"),
                               (ed137_header(), largest)):
            self.dropped(self.forged(7, rx % (header, method)))
        # The far end keys its radio, then releases it: both reach the controller.
        for data, params in (("20412105", "params tx : { header { ptt normal-ptt-on, squ squ-off, ptt-id 1,"),
                             ("00400000", "params tx : { header { ptt ptt-off, squ squ-off, ptt-id 1,")):
            self.assertEqual(self.board.ext_packet("10.2.2.2", 77, data), 1)
            found = self.signal("rtpExt")
            self.assertIsNotNone(found, self.daemon.output()[-2000:])
            self.assertEqual(found[0], 7)
            self.assertIn(params, found[1])
        self.assertNotIn("send fail: encode error!", self.daemon.output())
        self.assertEqual(self.send(7, "destroy : NULL"), "success")


if __name__ == "__main__":
    vx.main()
