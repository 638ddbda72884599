#!/usr/bin/env python3
"""Plays the PC's side of one recovery search and decodes the 100-byte reply.

Written from the reply table alone: offset 8 serial (20), 28 product name (20), 48 MAC (6 bytes),
54 software version (20), 74 hardware version (20), 94 IPv4 address (4, network order). A text
field ends at its first zero byte or after its 20 bytes.
"""
import argparse
import socket
import struct
import sys

GROUP, DEVICE_PORT, PC_PORT = "234.4.8.10", 4810, 4811


def text(field: bytes) -> str:
    return field.split(b"\0", 1)[0].decode("latin-1")


def decode(reply: bytes) -> dict:
    if len(reply) != 100:
        raise ValueError(f"reply of {len(reply)} bytes, not 100")
    return {
        "serial": text(reply[8:28]),
        "product_name": text(reply[28:48]),
        "mac": reply[48:54].hex().upper(),
        "software_version": text(reply[54:74]),
        "hardware_version": text(reply[74:94]),
        "address": socket.inet_ntoa(reply[94:98]),
    }


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--pc", default="127.0.0.1", help="the PC address to send from")
    parser.add_argument("--serial", required=True, help="serial number to search for")
    parser.add_argument("--expect", action="append", default=[], metavar="FIELD=VALUE",
                        help="a decoded field that must have this value")
    args = parser.parse_args()

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((args.pc, PC_PORT))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(args.pc))
    request = bytearray(160)
    request[0] = 0
    request[4:8] = b"RECM"
    serial = args.serial.encode()
    request[8:8 + len(serial)] = serial
    sock.sendto(bytes(request), (GROUP, DEVICE_PORT))
    sock.settimeout(5)
    reply, source = sock.recvfrom(200)
    fields = decode(reply)
    print(f"reply of {len(reply)} bytes from {source[0]}:{source[1]}")
    for name, value in fields.items():
        print(f"  {name}: {value}")
    failed = False
    for expectation in args.expect:
        name, _, value = expectation.partition("=")
        if fields.get(name) != value:
            print(f"MISMATCH {name}: expected {value!r}, decoded {fields.get(name)!r}", file=sys.stderr)
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
