"""Which port is the glove on: the machine's serial ports (list_ports) and the hello on many
ports at once (scan).

Threads: scan() starts one thread per port, each calling the library's probe on its own port
and writing only its own slot of the results; scan() joins them all before it reads them.
"""

import collections
import ctypes
import os
import threading

from . import _library

Port = collections.namedtuple(
    "Port", ["name", "stable_name", "description", "serial_number", "usb_vendor_id",
             "usb_product_id"])
Port.__doc__ = """One serial port of the machine.

name: what to open ("/dev/ttyUSB0", "COM7"); stable_name: on Linux the /dev/serial/by-id/...
link that udev made for it, the same after a replug, else None; description: for people (the
USB product and maker, the kind of UART); serial_number: the USB serial number, or None;
usb_vendor_id, usb_product_id: the USB ids as numbers (0x0403, 0x6001), None for a port that
is not on USB."""


class _RawPortInfo(ctypes.Structure):
    """chirolink_port_info."""

    _fields_ = [
        ("name", ctypes.c_char * 256),
        ("stable_name", ctypes.c_char * 256),
        ("description", ctypes.c_char * 256),
        ("serial_number", ctypes.c_char * 128),
        ("usb_vendor_id", ctypes.c_int32),
        ("usb_product_id", ctypes.c_int32),
    ]


def _calls():
    library = _library.load_library()
    library.chirolink_list_ports.restype = ctypes.c_int32
    library.chirolink_list_ports.argtypes = [
        ctypes.POINTER(_RawPortInfo), ctypes.c_int32, ctypes.POINTER(ctypes.c_int32)]
    library.chirolink_probe.restype = ctypes.c_int32
    library.chirolink_probe.argtypes = [ctypes.c_char_p]
    return library


def _text(raw):
    return os.fsdecode(raw) or None


def list_ports():
    """The machine's serial ports as Port tuples, sorted by name, without opening any."""
    library = _calls()
    count = ctypes.c_int32(0)
    capacity = 16
    while True:
        ports = (_RawPortInfo * capacity)()
        result = library.chirolink_list_ports(ports, capacity, ctypes.byref(count))
        if result != _library.OK:
            raise _library.ChirolinkError(_library.error_text(library, result), code=result)
        if count.value <= capacity:
            break
        capacity = count.value  # ports came between the two calls: ask again for all
    return [Port(os.fsdecode(p.name), _text(p.stable_name),
                 p.description.decode("utf-8", "replace"), _text(p.serial_number),
                 None if p.usb_vendor_id < 0 else p.usb_vendor_id,
                 None if p.usb_product_id < 0 else p.usb_product_id)
            for p in ports[:count.value]]


def scan(ports=None):
    """The names of the ports where a glove answered the hello, in the order given.

    Says hello on each of `ports` (names or paths; by default every port of list_ports()),
    all at once, each on a thread of its own: about 1.2 s in all when some port stays silent.
    It sends the hello byte to every port it probes, so with other serial devices attached,
    name the ports to try. A port that is busy, missing or not a serial port has no glove."""
    library = _calls()
    names = [p.name for p in list_ports()] if ports is None else [os.fspath(p) for p in ports]
    answers = [None] * len(names)

    def probe(index):
        answers[index] = library.chirolink_probe(os.fsencode(names[index]))

    threads = [threading.Thread(target=probe, args=(i,), daemon=True) for i in range(len(names))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return [name for name, answer in zip(names, answers) if answer == _library.OK]
