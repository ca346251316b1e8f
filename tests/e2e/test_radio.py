"""Radio RTP slots end to end: LEMZ and ED-137 slots created by the controller over TCP, radio
signalling injected through the simulated extension device arriving as "rtpExt" signals, radio
commands given as slot ioctls leaving as header extensions byte for byte, a silent ED-137 peer
reported with "abort", and destruction that stops every timer. The ED-137 extensions the slot
sent are put into RTP packets and dissected by tshark."""

import os
import shutil
import subprocess
import tempfile

import radio_per as per
import vxharness as vx
import test_rtp
from test_rtp import Board as RtpBoard, udp_port
from test_slots import _create, _slot_command

IOCTL = 9
CREATE_RTP = 4
INSUFFICIENT_RESOURCES = 1
SIG_ABORT, SIG_RTP_EXT = 7, 15
G711_ALAW, G729, T38_UDP = 0, 3, 11
ENCODER, RTP_EXT = 12, 16
ULAW = 1


class Board(RtpBoard):
    listings = RtpBoard.listings + ("rtp-ext-sessions", "rtp-ext-sent")

    def ext_sessions(self):
        """The extension sessions by number, each a dict of its fields."""
        return test_rtp.numbered(self.ask("rtp-ext-sessions"))

    def open_ext_session(self):
        open_ones = [n for n, s in self.ext_sessions().items() if s["open"] == "1"]
        assert len(open_ones) == 1, open_ones
        return open_ones[0]

    def ext_sent(self, session):
        return self.ask("rtp-ext-sent %d 4096" % session)

    def ext_packet(self, source, ssrc, data):
        return int(self.ask("rtp-ext-packet %s %d %s" % (source, ssrc, data)))


def create_radio(slot, radio, payload=G711_ALAW, pfactor=None, rtp_e2m=None, seq=1):
    rtp = {"payload": payload, "dhost": {"iaddr": "127.0.0.1", "port": udp_port() - 1}, "radio": radio}
    if pfactor is not None:
        rtp["pfactor"] = pfactor
    if rtp_e2m is not None:
        rtp["rtp-e2m"] = rtp_e2m

    def body(b):
        b.put(0, 1)          # CreateRtpParams: no extension
        per.encode(b, per.RtpParams, rtp)
        b.put(payload, 4)    # txPayload
        b.put(payload, 4)    # rxPayload
    return _create(CREATE_RTP, slot, seq, body)


def radio_ioctl(slot, modifier, seq=1):
    def body(b):
        b.put(0, 1)
        b.put(RTP_EXT, 6)
        per.encode(b, per.RadioModifier, modifier)
    return _slot_command(IOCTL, slot, seq, body)


def encoder_ioctl(slot, mode, seq=1):
    def body(b):
        b.put(0, 1)
        b.put(ENCODER, 6)
        b.put(mode, 2)
    return _slot_command(IOCTL, slot, seq, body)


def parse(payload):
    """(slot, alternative, value) of a signal: the request of "rtpExt", the code of "abort"."""
    r, slot, is_signal = test_rtp.message_start(payload)
    if not is_signal:
        return slot, None, None
    r.take(1)
    alt = r.take(5)
    if alt == SIG_RTP_EXT:
        return slot, alt, per.decode(r, per.RtpRadioRequest)
    if alt == SIG_ABORT:
        return slot, alt, r.integer()
    return slot, alt, None


def rtp_packet_hex(ext, pt, seq, payload=b""):
    """An RTP packet carrying `ext` in its header extension (profile 0x0167), in hex."""
    words = ext + b"\x00" * (-len(ext) % 4)
    head = bytes([0x90, pt, seq >> 8, seq & 255, 0, 0, 0, 160, 0x12, 0x34, 0x56, 0x78, 0x01, 0x67, 0,
                  len(words) // 4])
    return (head + words + payload).hex()


class RadioTest(test_rtp.SessionTest):
    board_class = Board
    parse = staticmethod(parse)

    def wait_sent(self, session, count, timeout=5.0):
        self.assertTrue(vx.wait_for(lambda: len(self.board.ext_sent(session)) >= count, timeout),
                        self.board.ext_sent(session))
        return self.board.ext_sent(session)

    def test_lemz_slot_reports_requests_and_sends_commands(self):
        radio = {"status": per.lemz_status()}
        self.assertEqual(self.answer(create_radio(3, radio)), "success")
        session = self.board.open_ext_session()
        s = self.board.ext_sessions()[session]
        self.assertEqual((s["init"], s["etype"], s["mode"], s["attached"]), ("1", "0x1337", "0", "1"))
        self.assertEqual(s["pid_rtp"], str(self.daemon.pid()))
        self.assertIn("do create rtp ext LEMZ: ", self.daemon.output())

        # A workstation takes the radio: GW_FLAG_PTT, priority 3, from 10.1.1.1.
        self.assertEqual(self.board.ext_packet("10.1.1.1", 5, "03340000"), 1)
        slot, request = self.signal(SIG_RTP_EXT)
        self.assertEqual(slot, 3)
        self.assertEqual(request["status"][0], "lemz")
        self.assertEqual(request["status"][1]["freq"], {"channel": 3, "frequency": "145.500000"})
        kind, modifier = request["request"]
        self.assertEqual(kind, "lemz")
        self.assertEqual(modifier["addr"], {"session-addr": "10.1.1.1", "session-ssrc": 5})
        self.assertEqual(modifier["params"][0], "gw-set-ptt")
        self.assertTrue(modifier["params"][1]["flags"]["ptt"])
        self.assertEqual(modifier["params"][1]["flags"]["prio"], 3)

        # The controller gives the radio to that session: WM_TRANS, octets of the address reversed.
        trans = {"flags": per.flags(prio=3, ptt=True), "ip": "10.1.1.1", "ssrc": 5}
        modifier = ("lemz", {"addr": {"session-addr": "10.1.1.1", "session-ssrc": 5},
                             "params": ("wm-trans", trans)})
        self.assertEqual(self.answer(radio_ioctl(3, modifier)), "success")
        sent = self.wait_sent(session, 1)
        self.assertIn("82340000" + "0101010A" + "00000005", sent)
        self.assertEqual(self.board.ext_sessions()[session]["filter"], "10.1.1.1")
        # The periodic announcement follows: WM_TRANS while PTT is held, WM_CHAN with the channel.
        sent = self.wait_sent(session, 3, timeout=3)
        self.assertIn("84340000" + "00000003" + "43118000" + "02020000", sent)

        # An ED-137 command is not this slot's: refused.
        ed = ("ed-137", {"addr": {"session-addr": "10.1.1.1", "session-ssrc": 5},
                         "params": ("tx", {"header": per.ed137_header(ptt=1)})})
        self.assertEqual(self.answer(radio_ioctl(3, ed)), 6)

        self.board.ask("clear-requests")
        self.assertEqual(self.answer(vx.command(vx.DESTROY, seq=2, slot=3)), "success")
        s = self.board.ext_sessions()[session]
        self.assertEqual((s["open"], s["attached"]), ("0", "0"))
        self.assertEqual(self.board.sessions(), {})

    def test_lemz_slot_joining_another_process_session(self):
        radio = {"status": per.lemz_status()}
        e2m = {"slot": 1, "channel": 2, "mode": ("only-rtp", {"fd": 33, "pid": 77})}
        opened = len(self.board.ext_sessions())
        self.assertEqual(self.answer(create_radio(4, radio, rtp_e2m=e2m)), "success")
        self.assertEqual(len(self.board.ext_sessions()), opened, "no extension session of its own")
        channel, fields = next(iter(self.board.sessions().items()))
        self.assertEqual(fields["attach"], "33/77")
        self.assertEqual(len(self.board.records("RTP_ATTACH")), 1)
        # A codec change on a slot that only joined begins a new session, which joins too; the
        # old one is gone with its channel.
        self.assertEqual(self.answer(encoder_ioctl(4, ULAW)), "success")
        self.assertEqual(len(self.board.records("RTP_ATTACH")), 2)
        sessions = self.board.sessions()
        self.assertEqual(list(sessions), [channel])
        self.assertEqual((sessions[channel]["tx_pt"], sessions[channel]["attach"]), ("0", "33/77"))
        self.assertEqual(self.answer(vx.command(vx.DESTROY, seq=2, slot=4)), "success")

    def test_creates_each_factory_declines(self):
        self.assertEqual(self.answer(create_radio(5, {"status": per.lemz_status()}, payload=T38_UDP)),
                         INSUFFICIENT_RESOURCES)
        self.assertIn("rtp ext LEMZ[", self.daemon.output())
        self.assertIn("rtp do not created: payload ptT38-UDP-TLnot found", self.daemon.output())

    def test_ed137_slot_keepalive_ptt_and_destroy(self):
        response = {"type": 2, "txrxmode": 2, "ptt-id": 0, "sigtime": 1, "r2s-keepalive-period": 200,
                    "r2s-keepalive-multiplier": 10}
        status = ("ed-137", {"header": per.ed137_header(squ=1, ptt_id=2), "radio-response": response})
        self.assertEqual(self.answer(create_radio(6, {"status": status}, pfactor=2)), "success")
        self.assertIn("do create rtp ext ED137: ", self.daemon.output())
        session = self.board.open_ext_session()
        s = self.board.ext_sessions()[session]
        self.assertEqual((s["etype"], s["mode"], s["pt"], s["period"], s["sigtime"], s["pid_rtp"]),
                         ("0x0167", "1", "123", "10", "1", "-1"))
        # The initial status leaves at once as an rx extension: squelch open, PTT id 2.
        self.assertEqual(self.wait_sent(session, 1)[0], "10800000")

        # The voice system keys the radio: a tx extension, PTT normal, id 1, a CLIMAX delay.
        self.assertEqual(self.board.ext_packet("10.2.2.2", 77, "20412105"), 1)
        slot, request = self.signal(SIG_RTP_EXT)
        self.assertEqual(slot, 6)
        self.assertEqual(request["status"][1]["header"]["squ"], 1)
        kind, modifier = request["request"]
        self.assertEqual(modifier["addr"], {"session-addr": "10.2.2.2", "session-ssrc": 77})
        self.assertEqual(modifier["params"], ("tx", {"header": per.ed137_header(ptt=1, ptt_id=1)}))

        # The controller answers: the radio transmits, signal quality 3 by AGC.
        rx = {"header": per.ed137_header(ptt=1, squ=1, ptt_id=5), "sqi": {"bss-method": 1, "bss-quality": 3}}
        modifier = ("ed-137", {"addr": {"session-addr": "10.2.2.2", "session-ssrc": 77}, "params": ("rx", rx)})
        self.assertEqual(self.answer(radio_ioctl(6, modifier)), "success")
        self.assertIn("31411119", self.wait_sent(session, 2))

        # Silence from the voice system for the keep-alive limit (2 s): "abort" 151, again per tick.
        self.assertEqual(self.signal(SIG_ABORT, timeout=4), (6, 151))
        self.assertEqual(self.signal(SIG_ABORT, timeout=2), (6, 151))
        sent = self.board.ext_sent(session)
        self.assertGreaterEqual(sent.count("31411119"), 2, "the periodic receive report")
        self.oracle(sent)

        self.assertEqual(self.answer(vx.command(vx.DESTROY, seq=2, slot=6)), "success")
        self.assertEqual(self.board.ext_sessions()[session]["open"], "0")
        # No tick survives the slot: no abort, no daemon-side trouble. (Aborts of the living
        # slot that came before the destroy's answer are kept aside by answer(): passed over.)
        self.pending.clear()
        self.assertIsNone(self.signal(SIG_ABORT, timeout=2.5))
        self.assertNotIn("detach rtp_ext session fail", self.daemon.output())

    def oracle(self, sent):
        """tshark reads the receive reports (as keep-alives: payload type 123, no payload) and the
        PTT extension (in a PCMA packet) as ED-137 R2S."""
        if not shutil.which("tshark") or not shutil.which("text2pcap"):
            return
        report = bytes.fromhex(sent[0])
        ptt = bytes.fromhex([h for h in sent if h.startswith("31")][0])
        tmp = tempfile.mkdtemp(prefix="vxr2s")
        try:
            txt, pcap = os.path.join(tmp, "r2s.txt"), os.path.join(tmp, "r2s.pcap")
            with open(txt, "w") as f:
                for n, (ext, pt, payload) in enumerate([(report, 123, b""), (ptt, 8, b"\xd5" * 160)]):
                    data = rtp_packet_hex(ext, pt, n + 1, payload)
                    f.write("000000 " + " ".join(data[i:i + 2] for i in range(0, len(data), 2)) + "\n")
            subprocess.run(["text2pcap", "-q", "-u", "5004,5004", txt, pcap], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            fields = ["rtp.p_type", "rtp.ext.ed137a.ptt_type", "rtp.ext.ed137a.squ", "rtp.ext.ed137a.ptt_id",
                      "rtp.ext.ed137a.x", "rtp.ext.ed137a.ft.type", "rtp.ext.ed137a.ft.sqi.qidx",
                      "rtp.ext.ed137a.ft.sqi.qidx-ml"]
            cmd = ["tshark", "-r", pcap, "-d", "udp.port==5004,rtp", "-T", "fields", "-E", "separator=;"]
            for field in fields:
                cmd += ["-e", field]
            out = subprocess.run(cmd, capture_output=True, text=True, check=True).stdout.split("\n")
            self.assertEqual(out[0], "123;0;1;2;0;;;")
            self.assertEqual(out[1], "8;1;1;5;1;0x01;3;1")
        finally:
            shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    vx.main()
