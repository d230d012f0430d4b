"""chirolink.list_ports() on this machine and chirolink.scan() against emulated gloves."""

import os
import pathlib
import time
import unittest

import chirolink
from emulated import Emulator


class PortsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        chirolink.load_library(os.environ["CHIROLINK_LIBRARY"])

    def test_list_ports_gives_named_tuples_of_this_machines_ports(self):
        ports = chirolink.list_ports()
        for port in ports:
            self.assertIsInstance(port, chirolink.Port)
            self.assertTrue(port.name.startswith("/dev/"), port)
            self.assertEqual(port.usb_vendor_id is None, port.usb_product_id is None, port)
        self.assertEqual([p.name for p in ports], [p.name for p in chirolink.list_ports()])

    def test_scan_finds_the_gloves_among_silent_ports_all_at_once(self):
        values = (1, 2, 3, 4, 5, 6, 7)
        with Emulator(values, instant=True) as first, Emulator(values, "--silent") as silent, \
                Emulator(values, "--silent") as other_silent, \
                Emulator(values, instant=True) as second:
            start = time.monotonic()
            found = chirolink.scan([first.path, silent.path, pathlib.Path(second.path),
                                    other_silent.path, "/nonexistent/ttyUSB3"])
            elapsed = time.monotonic() - start
        self.assertEqual(found, [first.path, second.path])
        self.assertLess(elapsed, 2.4, "two silent ports took as long as two in a row")


if __name__ == "__main__":
    unittest.main()
