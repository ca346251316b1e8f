"""What the daemon sets on /dev/hal is put back when the device refused it, was away or was
reset: the bus clock source (the controller's choice, and the free-running default of a
departure and of the next connect), the framer LEDs of "display framer", and the SPI line
interfaces, whose registers are read only while a controller is connected."""

import time

import vxharness as vx
from test_rtp import CodecSessionTest

FREE_RUN = 4
SOURCE_2 = "clockCfg : { clkSel0 external, bextEn enabled, source 2 }"


def line(e1, up):
    return "display : framer : { e1 %d, info line : %s }" % (e1, "TRUE" if up else "FALSE")


class HalSettings(CodecSessionTest):
    def tearDown(self):
        self.board.ask("fail hal none")
        self.board.ask("fail-open hal none")
        super().tearDown()

    def clock(self):
        return int(self.board.ask("clock"))

    def leds(self):
        return int(self.board.ask("leds"))

    def failed_clock_writes(self):
        return sum("HW_CLOCK_SELECT" in r and "EIO" in r for r in self.board.ask("requests hal 4096 HW_CLOCK_SELECT"))

    def test_clock_default_owed_across_an_absence_and_a_refusal(self):
        for away in ("fail-open", "fail"):
            with self.subTest(away):
                self.assertEqual(self.send_to(0, SOURCE_2), "success")
                self.assertEqual(self.clock(), 2)
                start = len(self.daemon.output())
                if away == "fail-open":
                    self.board.ask("fail-open hal ENOENT")
                    self.board.ask("hangup hal")
                else:
                    self.board.ask("fail hal EIO 1000000")
                # A leaves, B connects: the free-running default cannot be written now.
                self.new_controller()
                self.assertEqual(self.clock(), 2)
                if away == "fail":
                    # Tried again and again, logged once.
                    self.assertTrue(vx.wait_for(lambda: self.failed_clock_writes() >= 3, 8))
                    self.assertEqual(self.daemon.output()[start:].count("clkctl: HW_CLOCK_SELECT fail."), 1)
                self.board.ask("%s hal none" % away)
                self.assertTrue(vx.wait_for(lambda: self.clock() == FREE_RUN, 12), self.daemon.output()[-2000:])

    def test_clock_source_written_again_after_a_reset(self):
        self.assertEqual(self.send_to(0, SOURCE_2), "success")
        self.board.ask("reset")
        self.assertTrue(vx.wait_for(lambda: self.clock() == 2, 5), self.daemon.output()[-2000:])
        # The next departure's default, too, reaches the new descriptor.
        self.new_controller()
        self.assertTrue(vx.wait_for(lambda: self.clock() == FREE_RUN, 5))

    def test_framer_leds_owed_after_a_refusal_and_an_absence(self):
        self.board.ask("fail hal EIO 1000000")
        self.assertEqual(self.send_to(0, line(0, True)), "success")
        self.assertEqual(self.leds(), 0)
        self.board.ask("fail hal none")
        # The 2 s poll writes them once the driver takes requests again.
        self.assertTrue(vx.wait_for(lambda: self.leds() == 0x03, 6), self.leds())

        self.board.ask("fail-open hal ENOENT")
        self.board.ask("hangup hal")
        # The first report finds the descriptor hung up, if the poll has not yet; the second
        # surely finds no device.
        self.assertEqual(self.send_to(0, line(1, True)), "success")
        self.assertEqual(self.send_to(0, line(2, True)), "success")
        self.board.ask("fail-open hal none")
        # The reports made while the device was away are what the new descriptor gets.
        self.assertTrue(vx.wait_for(lambda: self.leds() == 0x3F, 6), self.leds())

    def test_spi_line_interfaces_come_back_after_a_reset_with_no_controller_and_no_register_is_read(self):
        def spi(request):
            return self.board.ask("requests hal 4096 " + request)
        self.c.close()
        time.sleep(0.2)
        self.board.ask("reset")
        # Seven line interfaces, each initialised (seven writes) and enabled.
        self.assertTrue(vx.wait_for(lambda: len(spi("SPI_WRITE")) == 7 * 8, 3), spi("SPI_WRITE"))
        time.sleep(2.5)
        self.assertEqual(spi("SPI_READ"), [])


if __name__ == "__main__":
    vx.main()
