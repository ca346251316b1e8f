"""The switch reconciled to what the daemon holds, end to end on voxrelay-sim: after a reset of
the board's drivers every route the daemon holds is on the switch again, through refusals too;
takedowns asked while the switch is away are made on its return; a later disable of an output
is not overwritten by an owed takedown; retries are quiet and cheap; a takedown of a channel the
switch does not have is neither sent nor owed. Slots that hold one output (ext slots naming a
receiver or a trunk slot's timeslot, HDLC data slots on one timeslot) keep each other's paths,
and a connect answered success means the path is there."""

import time

import vxharness as vx
from test_switch_refusal import TrunkSwitchCase

IDLE = "constant 213"
CONNECT_FAIL = 9
ACTIVATE = "activate : empty : NULL"
HDLC = "create : hdlcParams : { trunk 1, log 0, address %d }"
PRI = "create : pstn : isdn : { type pri, trunk 1, log 0, side user : NULL }"
UNSUPPORTED = 6


def ext(receiver):
    return "create : ext : { transmitter %d, receiver %d }" % (receiver + 1000, receiver)


def bus_output(bus, channel):
    return 8192 + bus * 128 + channel


def map_rx(bus, channel):
    return "create : map : { receiver { bus %d, channel %d } }" % (bus, channel)


class SwitchReconcile(TrunkSwitchCase):
    refused = ()

    def tearDown(self):
        for channel in self.refused:
            self.board.ask("refuse %d none" % channel)
        super().tearDown()

    def mux_lines(self):
        return sum(1 for line in self.daemon.output().splitlines() if line.startswith("hwMux:"))

    def bpc(self, bus, mode, start, length, seed=7):
        return self.send_to(0, "testBpc : { bus %d, seed %d, mode %s : NULL, timeslot-start %d, timeslot-length %d }"
                            % (bus, seed, mode, start, length))

    def wait_switch(self, channel, want, timeout=5):
        self.assertTrue(vx.wait_for(lambda: self.switch(channel) == want, timeout),
                        "%d: %s, not %s" % (channel, self.switch(channel), want))

    def test_a_reset_leaves_every_held_route_on_the_switch(self):
        # The re-sends after the reset refused, busy or found invalid, for a while.
        for refusing in (None, "EBUSY", "EINVAL"):
            with self.subTest(refusing=refusing):
                self.assertEqual(self.send_to(10, map_rx(3, 0)), "success")
                self.assertEqual(self.connect(1, 2), "success")
                self.assertEqual(self.connect(1, 10), "success")
                self.assertEqual(self.switch(bus_output(3, 0)), "connected 1")
                self.board.ask("reset")
                if refusing:
                    self.board.ask("clear-requests")
                    self.board.ask("fail hal %s 1000000" % refusing)
                    # Until the sweep's re-send of a held route met a refusal.
                    self.assertTrue(vx.wait_for(
                        lambda: vx.refused(self.board, "hal", "MUX_CONNECT", bus_output(3, 0)) >= 1))
                    self.board.ask("fail hal none")
                self.wait_switch(2, "connected 1")
                self.wait_switch(bus_output(3, 0), "connected 1")
                # The daemon holds the call: a second connect answers success, the path stands.
                self.assertEqual(self.connect(1, 2), "success")
                self.assertEqual(self.switch(2), "connected 1")
                self.assertEqual(self.send_to(2, "disconnect : NULL"), "success")
                self.assertEqual(self.send_to(10, "destroy : NULL"), "success")
                self.wait_switch(2, IDLE)
                self.wait_switch(bus_output(3, 0), "disabled")

    def test_a_reset_is_noticed_when_every_bus_output_is_driven(self):
        # Write tests over every timeslot of the 16 buses: no bus output is left disabled.
        for bus in range(16):
            self.assertEqual(self.bpc(bus, "write", 0, 127), "success")
            self.assertEqual(self.bpc(bus, "write", 127, 1), "success")
        self.assertEqual(self.connect(1, 2), "success")
        self.assertEqual(self.connect(2, 1), "success")
        self.board.ask("reset")
        self.wait_switch(2, "connected 1", 2.5)
        self.wait_switch(1, "connected 2", 0.5)
        self.assertTrue(self.switch(bus_output(15, 127)).startswith("constant"))
        for bus in range(16):
            self.assertEqual(self.bpc(bus, "disconnect", 0, 127), "success")
            self.assertEqual(self.bpc(bus, "disconnect", 127, 1), "success")

    def test_takedowns_asked_while_the_switch_is_away_are_made_on_its_return(self):
        out = bus_output(3, 0)
        tested = bus_output(2, 6)
        self.assertEqual(self.send_to(10, map_rx(3, 0)), "success")
        self.assertEqual(self.connect(1, 10), "success")
        self.assertEqual(self.bpc(2, "write", 6, 1), "success")
        self.assertTrue(self.switch(tested).startswith("constant"))
        self.board.ask("fail-open hal ENODEV")
        self.board.ask("hangup hal")
        self.assertEqual(self.send_to(10, "destroy : NULL"), "success")
        self.assertEqual(self.bpc(2, "disconnect", 6, 1), "success")
        # Away: nothing opens the device but the paced reopen, once a second, logged once.
        self.board.ask("clear-requests")
        time.sleep(1.5)
        self.assertEqual(self.daemon.output().count("hwMux: can't open device"), 1)
        self.board.ask("fail-open hal none")
        self.wait_switch(out, "disabled")
        self.wait_switch(tested, "disabled")

    def test_an_owed_takedown_does_not_overwrite_a_later_disable(self):
        first, count = 6, 40
        for i in range(count):
            self.assertEqual(self.send_to(20 + i, map_rx(1, first + i)), "success")
            self.assertEqual(self.connect(1, 20 + i), "success")
        # One refusal at the first destroy; then the whole lot while the switch refuses.
        with vx.failing(self.board, "hal", "EIO", "any", first=bus_output(1, first)):
            self.assertEqual(self.send_to(20, "destroy : NULL"), "success")
        self.board.ask("fail hal EBUSY 1000000")
        before = self.mux_lines()
        self.board.ask("clear-requests")
        start = time.monotonic()
        for i in range(1, count):
            self.assertEqual(self.send_to(20 + i, "destroy : NULL"), "success")
        time.sleep(2)
        requests = int(self.board.ask("count hal"))
        elapsed = time.monotonic() - start
        lines = self.mux_lines() - before
        self.board.ask("fail hal none")
        for i in range(count):
            self.wait_switch(bus_output(1, first + i), "disabled")
        # Still disabled a while later: no retry writes the idle byte over them.
        time.sleep(1.2)
        for i in range(count):
            self.assertEqual(self.switch(bus_output(1, first + i)), "disabled")
        # The refresh's own cost (about 2,100 a second) and a few retries; the lines of each
        # destroy's own refused requests (disconnect, disable), none per retry.
        self.assertLess(requests, 2200 * elapsed + 4 * count, (requests, elapsed))
        self.assertLessEqual(lines, 2 * count + 2, self.daemon.output()[-3000:])

    def test_outputs_refused_for_good_share_a_bounded_budget_and_hold_up_no_other(self):
        # Timeslot 0 of every bus, where each step of the sweep ends, and 300 outputs whose
        # takedowns are owed, refused for good from now until the test ends.
        self.refused = [bus_output(bus, 0) for bus in range(16)] + list(range(7100, 7400))
        for channel in self.refused:
            self.board.ask("refuse %d EIO" % channel)
        for channel in range(7100, 7400):
            for command in ("create : ext : { transmitter 1, receiver %d }" % channel, "destroy : NULL"):
                self.assertEqual(self.send_to(40, command), "success")
        # Past each output's own back-off.
        time.sleep(2)
        self.board.ask("clear-requests")
        start = time.monotonic()
        time.sleep(2)
        requests = int(self.board.ask("count hal"))
        elapsed = time.monotonic() - start
        # The refresh (about 2,050 a second), the status poll and the budget: not 2 a second
        # for each of the 300.
        self.assertLess(requests, 2200 * elapsed, (requests, elapsed))
        # An ext receiver fed by a trunk timeslot, destroyed while the switch refuses every
        # request: its takedown, owed, is not behind them once the switch takes requests, nor
        # held up by taking the switch to refuse as a whole.
        for command in ("create : ext : { transmitter 2, receiver 7000 }", "activate : empty : NULL"):
            self.assertEqual(self.send_to(41, command), "success")
        self.assertEqual(self.connect(1, 41), "success")
        self.assertEqual(self.switch(7000), "connected 1")
        self.board.ask("fail hal EBUSY 1000000")
        self.assertEqual(self.send_to(41, "destroy : NULL"), "success")
        self.assertEqual(self.switch(7000), "connected 1")
        self.board.ask("fail hal none")
        self.wait_switch(7000, "disabled", 1.5)

    def test_a_takedown_of_a_channel_beyond_the_switch_is_neither_sent_nor_owed(self):
        beyond = (16384, 20000, 65535)
        for channel in beyond:
            for command in ("create : ext : { transmitter 1, receiver %d }" % channel, "activate : empty : NULL",
                            "deactivate : NULL", "destroy : NULL"):
                self.assertEqual(self.send_to(40, command), "success")
        self.board.ask("clear-requests")
        time.sleep(1.2)
        self.assertEqual([line for line in self.board.ask("requests hal 4096") if "channel=" in line
                          and int(line.split("channel=")[1].split()[0]) in beyond], [])

    def test_a_connect_refused_with_its_way_back_keeps_the_old_path(self):
        # Found by the board-fault tester (test_switch_faults.py --seed 2 --steps 150).
        self.assertEqual(self.connect(1, 2), "success")
        # The old path's takedown, the new path and the old one made again: all refused.
        with vx.failing(self.board, "hal", "EBUSY", "any", first=2, count=3):
            self.assertEqual(self.connect(3, 2), CONNECT_FAIL)
        time.sleep(0.3)
        self.assertEqual(self.switch(2), "connected 1", "the sink keeps its source, the switch its path")
        self.assertEqual(self.send_to(2, "disconnect : NULL"), "success")
        self.assertEqual(self.switch(2), IDLE)

    def test_slots_naming_one_output_keep_each_others_paths(self):
        self.assertEqual(self.send_to(20, ext(8)), "success")
        self.assertEqual(self.send_to(20, ACTIVATE), "success")
        self.assertEqual(self.connect(1, 20), "success")
        # Activated again, the slot keeps its path.
        self.assertEqual(self.send_to(20, ACTIVATE), "success")
        self.assertEqual(self.switch(8), "connected 1")
        # A slot naming the same receiver that never drove it takes nothing from it; nor does
        # one naming a live trunk slot's timeslot.
        self.assertEqual(self.connect(1, 2), "success")
        for other, receiver in ((21, 8), (22, 2)):
            for command in (ext(receiver), "deactivate : NULL", ACTIVATE, "destroy : NULL"):
                self.assertEqual(self.send_to(other, command), "success")
                self.assertEqual((self.switch(8), self.switch(2)), ("connected 1", "connected 1"), command)
        # The newest route holds the output; a connect of a pair whose path another slot took
        # makes it again, and a slot that goes gives the output back to the route left.
        self.assertEqual(self.send_to(21, ext(8)), "success")
        self.assertEqual(self.send_to(21, ACTIVATE), "success")
        self.assertEqual(self.connect(3, 21), "success")
        self.assertEqual(self.switch(8), "connected 3")
        self.assertEqual(self.connect(1, 20), "success")
        self.assertEqual(self.switch(8), "connected 1")
        self.assertEqual(self.send_to(20, "destroy : NULL"), "success")
        self.assertEqual(self.switch(8), "connected 3")
        self.assertEqual(self.send_to(21, "disconnect : NULL"), "success")
        self.assertEqual(self.switch(8), IDLE)
        self.assertEqual(self.send_to(21, "destroy : NULL"), "success")
        self.assertEqual(self.switch(8), "disabled")

    def test_a_connect_answered_success_leaves_the_route_newest_and_a_failed_one_as_old_as_it_was(self):
        # Three ext slots on receiver 8, the middle one fed from trunk 3, the others from trunk 1.
        for slot, trunk in ((20, 1), (21, 3), (22, 1)):
            for command in (ext(8), ACTIVATE):
                self.assertEqual(self.send_to(slot, command), "success")
            self.assertEqual(self.connect(trunk, slot), "success")
        # The output carries 20's source for 22: connected again, 20's route is the newest.
        self.assertEqual(self.connect(1, 20), "success")
        self.assertEqual(self.send_to(22, "destroy : NULL"), "success")
        self.assertEqual(self.switch(8), "connected 1")
        # A new source for 21 that the switch refuses leaves 21's old route behind 20's.
        with vx.failing(self.board, "hal", "EBUSY", "MUX_CONNECT", first=8):
            self.assertEqual(self.connect(2, 21), CONNECT_FAIL)
        self.assertEqual(self.switch(8), "connected 1")
        self.assertEqual(self.send_to(20, "destroy : NULL"), "success")
        self.assertEqual(self.switch(8), "connected 3")

    def test_data_slots_on_one_trunk_timeslot_hand_it_back_to_the_one_left(self):
        # One link, two addresses: each slot's controller channel fed from trunk timeslot 1.
        links = []
        for slot in (20, 21):
            before = self.open_channels()
            self.assertEqual(self.send_to(slot, HDLC % slot), "success")
            self.assertEqual(self.connect(1, slot), "success")
            (channel,) = self.open_channels() - before
            links.append(channel)
            self.assertEqual(self.switch(1), "connected %d" % channel)
        # A connect of the older pair takes the timeslot back for its channel, on no new one.
        opened = self.open_channels()
        self.assertEqual(self.connect(1, 20), "success")
        self.assertEqual((self.switch(1), self.open_channels()), ("connected %d" % links[0], opened))
        self.assertEqual(self.send_to(20, "destroy : NULL"), "success")
        self.wait_switch(1, "connected %d" % links[1])
        self.assertEqual(self.switch(links[1]), "connected 1")
        self.assertEqual(self.send_to(21, "destroy : NULL"), "success")
        self.wait_switch(1, "disabled")

    def hdlc_on(self, slot, connect):
        """An HDLC data slot made and connected as connect() says; its controller channel."""
        before = self.open_channels()
        self.assertEqual(self.send_to(slot, HDLC % slot), "success")
        connect()
        (channel,) = self.open_channels() - before
        return channel

    def test_a_repeated_connect_of_a_data_slot_answers_what_the_switch_carries(self):
        links = [self.hdlc_on(slot, lambda: self.assertEqual(self.connect(1, slot), "success")) for slot in (20, 21)]
        # The hand-back to the older slot is owed while the switch refuses output 1.
        self.board.ask("refuse 1 EBUSY")
        self.refused = (1,)
        self.assertEqual(self.send_to(21, "destroy : NULL"), "success")
        self.assertEqual(self.connect(1, 20), CONNECT_FAIL)
        self.assertEqual(self.switch(1), "connected %d" % links[1])
        self.board.ask("refuse 1 none")
        self.wait_switch(1, "connected %d" % links[0])
        self.assertEqual(self.connect(1, 20), "success")
        self.assertIn(links[0], self.open_channels(), "the link kept its channel")

    def test_a_live_trunk_slots_idle_byte_outlives_a_data_slot_on_its_output(self):
        # The trunk slot's hold on its output: left by a disconnect, or by a source that went
        # before or after the data slot took the output.
        qsig = "create : ats-qsig : { side user : NULL, log 0 }"
        for case in ("disconnected", "trunk source", "B channel source", "source after"):
            with self.subTest(case=case):
                source = 2
                if case == "B channel source":
                    self.assertEqual(self.send_to(30, qsig), "success")
                    self.assertEqual(self.send_to(31, "create : ats-qsig-b : { slot 30, subslot 1 }"), "success")
                    source = 31
                if case != "source after":
                    self.assertEqual(self.connect(source, 1), "success")
                self.hdlc_on(20, lambda: self.assertEqual(self.connect(1, 20), "success"))
                if case == "source after":
                    self.assertEqual(self.connect(source, 1), "success")
                gone = {"disconnected": (1, "disconnect : NULL"), "B channel source": (30, "destroy : NULL")}
                slot, command = gone.get(case, (2, "destroy : NULL"))
                self.assertEqual(self.send_to(slot, command), "success")
                self.assertEqual(self.send_to(20, "destroy : NULL"), "success")
                time.sleep(0.7)  # past the grace of the data slot's channel
                self.assertEqual(self.switch(1), IDLE)
                for slot in (31, 30):
                    self.send_to(slot, "destroy : NULL")
                self.assertEqual(self.send_to(2, "create : trunk : { trunk 0, timeslot 2 }"), "success")

    def test_a_data_slot_left_without_connections_activates_as_a_fresh_one(self):
        self.hdlc_on(20, lambda: self.assertEqual(self.connect(1, 20), "success"))
        self.assertEqual(self.send_to(20, "disconnect : NULL"), "success")
        self.assertEqual(self.send_to(1, "destroy : NULL"), "success")
        self.assertEqual(self.send_to(1, "create : trunk : { trunk 0, timeslot 1 }"), "success")
        self.assertEqual(self.connect(3, 1), "success")
        opened = self.open_channels()
        self.assertEqual(self.send_to(20, ACTIVATE), UNSUPPORTED)
        self.assertEqual((self.switch(1), self.open_channels()), ("connected 3", opened))

    def test_a_data_slot_connected_both_ways_keeps_hearing_when_its_path_out_goes(self):
        for take in ("disconnect", "another source"):
            with self.subTest(take=take):
                channel = self.hdlc_on(20, lambda: (self.assertEqual(self.connect(1, 20), "success"),
                                                    self.assertEqual(self.connect(20, 1), "success")))
                if take == "disconnect":
                    self.assertEqual(self.send_to(1, "disconnect : NULL"), "success")
                    self.assertEqual(self.switch(1), IDLE)
                else:
                    self.assertEqual(self.connect(2, 1), "success")
                    self.assertEqual(self.switch(1), "connected 2")
                self.assertIn(channel, self.open_channels())
                self.assertEqual(self.switch(channel), "connected 1")
                # Connected back, the path out is there again on the same channel.
                self.assertEqual(self.connect(20, 1), "success")
                self.assertEqual((self.switch(1), self.switch(channel)), ("connected %d" % channel, "connected 1"))
                self.assertEqual(self.send_to(20, "destroy : NULL"), "success")

    def test_a_link_connected_again_from_its_trunk_takes_its_output_back(self):
        before = self.open_channels()
        self.assertEqual(self.send_to(30, PRI), "success")
        self.assertEqual(self.connect(1, 30), "success")
        (channel,) = self.open_channels() - before
        self.assertEqual(self.switch(1), "connected %d" % channel)
        data = self.hdlc_on(20, lambda: self.assertEqual(self.connect(20, 1), "success"))
        self.assertEqual(self.switch(1), "connected %d" % data)
        opened = self.open_channels()
        self.assertEqual(self.connect(1, 30), "success")
        self.assertEqual((self.switch(1), self.open_channels()), ("connected %d" % channel, opened))


if __name__ == "__main__":
    vx.main()
