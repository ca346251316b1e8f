"""Conference sums on the board are what the live mixer ports asked for: a refused removal or
clear is made good while the unit stays, a mixer channel still summed somewhere is not handed
to a new port, a reset of the board's drivers gets every sum back, and a refused create leaves
the board as it found it. Ports of one channel keep what the others still use: the switch path
into the channel, and the sum of an output a newer port set."""

import vxharness as vx
from test_rtp import CodecSessionTest

INSUFFICIENT = 1  # error cause insufficientResources


def out(channel, *inputs):
    """A mixerOut create on unit 0; inputs are (channel, gain) pairs or ready value texts."""
    items = ", ".join(i if isinstance(i, str) else "{ channel tdm : %d, gain %d }" % i for i in inputs)
    return "create : mixerOut : { unit 0, channel tdm : %d, inputs { %s } }" % (channel, items)


def inp(channel, summator=None):
    s = "" if summator is None else ", summator tdm : %d" % summator
    return "create : mixerIn : { unit 0, channel tdm : %d%s }" % (channel, s)


class MixerCase(CodecSessionTest):
    def setUp(self):
        super().setUp()
        self.board.ask("fail mixer EIO 0")
        self.board.ask("mixer-unit 0 16 8")
        self.query()
        self.made = []

    def tearDown(self):
        for slot in reversed(self.made):
            self.send_to(slot, "destroy : NULL")
        super().tearDown()

    def query(self):
        self.assertEqual(self.send_to(None, "query : NULL"), "success")

    def create(self, slot, params):
        answer = self.send_to(slot, params)
        if answer == "success":
            self.made.append(slot)
        return answer

    def destroy(self, slot):
        self.made.remove(slot)
        return self.send_to(slot, "destroy : NULL")

    def switch(self, channel):
        return self.board.ask("switch %d" % channel)

    def timeslot(self, slot, stream="receiver"):
        """The switch channel of a mixer port, from its stream signal (those before it go)."""
        return int(self.slot_signal(slot, stream, "active").split(" : ")[1])

    def sum(self, channel):
        return sorted(self.board.ask("mixer-sum 0 %d" % channel))

    def settles(self, channel, expected):
        """Whether output channel's sum comes to expected (sorted lines) within the deadline."""
        return vx.wait_for(lambda: self.sum(channel) == sorted(expected))

    def conference(self):
        """Output 10 summing channels 1 and 2 (slot 10), and input 5 joined to it (slot 11)."""
        self.assertEqual(self.create(10, out(10, (1, 100), (2, 200))), "success")
        self.assertEqual(self.create(11, inp(5, 10)), "success")
        self.assertEqual(self.sum(10), ["0/1 gain=100", "0/2 gain=200", "0/5 gain=32767"])


class MixerSums(MixerCase):
    def test_a_refused_removal_is_made_good_and_holds_the_channel_back_until_then(self):
        self.conference()
        with vx.failing(self.board, "mixer", "EIO", "MIX_RX_REMOVE"):
            self.assertEqual(self.destroy(11), "success")
        self.assertTrue(self.settles(10, ["0/1 gain=100", "0/2 gain=200"]), self.sum(10))
        # The next call on channel 5 is heard nowhere.
        self.assertEqual(self.create(12, inp(5)), "success")
        self.assertEqual(self.sum(10), ["0/1 gain=100", "0/2 gain=200"])

        # While the unit keeps refusing, channel 5 is not handed to a new port.
        self.assertEqual(self.destroy(12), "success")
        self.assertEqual(self.create(13, inp(5, 10)), "success")
        self.board.ask("fail mixer EIO 1000")
        self.assertEqual(self.destroy(13), "success")
        self.assertEqual(self.create(14, inp(5)), INSUFFICIENT)
        self.assertIn("0/5 gain=32767", self.sum(10))
        self.board.ask("fail mixer EIO 0")
        self.assertTrue(self.settles(10, ["0/1 gain=100", "0/2 gain=200"]), self.sum(10))
        self.assertEqual(self.create(14, inp(5)), "success")
        output = self.daemon.output()
        self.assertEqual(output.count("sum of output 10 not confirmed"), 2, output[-3000:])
        self.assertEqual(output.count("sum of output 10 confirmed"), 2)

    def test_sums_come_back_when_a_unit_away_answers_again(self):
        self.conference()
        # The unit goes and comes back empty before any query notices.
        self.board.ask("mixer-remove 0")
        self.assertEqual(self.destroy(11), "success")
        self.board.ask("mixer-unit 0 16 8")
        self.assertTrue(self.settles(10, ["0/1 gain=100", "0/2 gain=200"]), self.sum(10))
        # The next call on channel 5 is heard nowhere, the conference's own calls still are.
        self.assertEqual(self.create(12, inp(5)), "success")
        self.assertEqual(self.sum(10), ["0/1 gain=100", "0/2 gain=200"])
        self.assertEqual(self.create(13, inp(6, 10)), "success")
        self.assertEqual(self.sum(10), ["0/1 gain=100", "0/2 gain=200", "0/6 gain=32767"])

    def test_a_refused_clear_of_a_destroyed_output_is_made_good(self):
        self.assertEqual(self.create(20, out(3)), "success")
        self.assertEqual(self.create(21, out(4, (1, 7), (2, 8))), "success")
        self.assertEqual((self.sum(3), self.sum(4)), (["0/3 gain=32767"], ["0/1 gain=7", "0/2 gain=8"]))
        for slot, channel in ((20, 3), (21, 4)):
            with vx.failing(self.board, "mixer", "EIO", "MIX_RX_CLEAR"):
                self.assertEqual(self.destroy(slot), "success")
            self.assertTrue(self.settles(channel, []), self.sum(channel))
        # The channel of the old output's own input is free for the next call.
        self.assertEqual(self.create(22, inp(3, 4)), "success")
        self.assertEqual((self.sum(3), self.sum(4)), ([], ["0/3 gain=32767"]))

    def test_refused_creates_change_nothing(self):
        self.assertEqual(self.create(30, out(10, (1, 100), (2, 200))), "success")
        live = ["0/1 gain=100", "0/2 gain=200"]
        nine = [(c, 1) for c in range(1, 10)]
        refused = {
            "an RTP input": [(5, 1), "{ channel rtp : 1, gain 1 }"],
            "a channel the unit does not have": [(5, 1), (16, 1)],
            "more inputs than an output sums": nine,
        }
        for reason, inputs in refused.items():
            with self.subTest(reason=reason):
                for channel in (10, 12):
                    self.assertEqual(self.create(31, out(channel, *inputs)), INSUFFICIENT)
                self.assertEqual((self.sum(10), self.sum(12)), (live, []))

        # The unit sums fewer inputs than it reported: the adds it took are taken back.
        self.board.ask("mixer-inputs 0 2")
        self.assertEqual(self.create(31, out(10, (5, 1), (6, 1), (7, 1))), INSUFFICIENT)
        self.assertEqual(self.create(32, out(12, (5, 1), (6, 1), (7, 1))), INSUFFICIENT)
        self.assertEqual((self.sum(10), self.sum(12)), (live, []))
        # A refused mixerIn add: the output is full.
        self.assertEqual(self.create(33, inp(5, 10)), INSUFFICIENT)
        self.assertEqual(self.sum(10), live)
        self.board.ask("mixer-inputs 0 8")

        # A summator the unit does not have.
        self.assertEqual(self.create(33, inp(5, 16)), INSUFFICIENT)
        # What the next calls meet: channel 5 free and summed only where they ask.
        self.assertEqual(self.create(34, inp(5, 10)), "success")
        self.assertEqual(self.sum(10), live + ["0/5 gain=32767"])
        self.assertEqual(self.destroy(34), "success")
        self.assertEqual(self.destroy(30), "success")
        self.assertEqual(self.sum(10), [])

    def test_ports_of_one_channel_keep_what_the_others_still_use(self):
        for trunk in (1, 2, 3):
            self.assertEqual(self.create(trunk, "create : trunk : { trunk 0, timeslot %d }" % trunk), "success")
        # Two inputs on channel 5 fed by one trunk timeslot, summed into outputs 6 and 7.
        self.assertEqual(self.create(20, inp(5, 6)), "success")
        self.assertEqual(self.create(21, inp(5, 7)), "success")
        self.assertEqual(self.send_to(1, "connect : 20"), "success")
        self.assertEqual(self.send_to(1, "connect : 21"), "success")
        five = self.timeslot(20)
        self.assertEqual(self.destroy(20), "success")
        self.assertEqual((self.switch(five), self.sum(7)), ("connected 1", ["0/5 gain=32767"]))
        # The newest path holds the channel; a connect whose path another port took makes it
        # again, and a port that goes gives the channel back to the path left.
        self.assertEqual(self.create(22, inp(5, 6)), "success")
        self.assertEqual(self.send_to(2, "connect : 22"), "success")
        self.assertEqual(self.switch(five), "connected 2")
        self.assertEqual(self.send_to(1, "connect : 21"), "success")
        self.assertEqual(self.switch(five), "connected 1")
        self.assertEqual(self.destroy(21), "success")
        self.assertEqual(self.switch(five), "connected 2")

        # An output replaced before its call leaves: the new port's sum stays.
        self.assertEqual(self.create(30, out(2, (1, 100))), "success")
        self.assertEqual(self.send_to(30, "connect : 3"), "success")
        self.assertEqual(self.create(31, out(2, (3, 50), (4, 60))), "success")
        self.assertEqual(self.send_to(31, "connect : 3"), "success")
        two = self.timeslot(31, "transmitter")
        self.assertEqual(self.destroy(30), "success")
        self.assertEqual((self.sum(2), self.switch(3)), (["0/3 gain=50", "0/4 gain=60"], "connected %d" % two))
        self.assertEqual(self.destroy(31), "success")
        self.assertEqual(self.sum(2), [])

    def test_a_mixer_in_is_refused_when_the_output_is_full(self):
        # The daemon knows the unit sums 2: the add is not tried.
        self.board.ask("mixer-unit 0 16 2")
        self.query()
        self.assertEqual(self.create(40, out(10, (1, 100), (2, 200))), "success")
        self.assertEqual(self.create(41, inp(5, 10)), INSUFFICIENT)
        self.assertEqual(self.sum(10), ["0/1 gain=100", "0/2 gain=200"])
        self.assertEqual(self.create(41, inp(5)), "success")


class MixerReset(MixerCase):
    """A daemon of its own: a reset of the board's drivers."""

    def test_sums_come_back_after_a_reset_of_the_drivers(self):
        self.board.ask("mixer-unit 0 32 32")  # as a reset leaves it
        self.query()
        self.conference()
        self.assertEqual(self.create(12, out(3)), "success")
        wanted = {3: self.sum(3), 10: self.sum(10)}
        self.board.ask("reset")
        for channel, expected in wanted.items():
            self.assertTrue(self.settles(channel, expected), (channel, self.sum(channel)))

        self.assertEqual(self.daemon.output().count("mixer: device hung up"), 1)

        # The unit loses its sums again and refuses the first requests of the restore.
        self.board.ask("mixer-unit 0 32 32")
        self.assertEqual((self.sum(3), self.sum(10)), ([], []))
        self.board.ask("fail mixer EIO 2 MIX_RX_CLEAR")
        self.board.ask("hangup mixer")
        for channel, expected in wanted.items():
            self.assertTrue(self.settles(channel, expected), (channel, self.sum(channel)))
        self.assertEqual(self.daemon.output().count("mixer: device opened again"), 2)
        # The ports' releases still hold on the restored sums.
        self.assertEqual(self.destroy(11), "success")
        self.assertEqual(self.sum(10), ["0/1 gain=100", "0/2 gain=200"])
        self.assertEqual(self.destroy(10), "success")
        self.assertEqual(self.sum(10), [])
        self.assertEqual(self.create(13, inp(5)), "success")


if __name__ == "__main__":
    vx.main()
