#!/usr/bin/env python3
"""Writes the binary seed inputs of the fuzz targets icmp_packet and raw_datagram.

Every packet is built by hand here, field by field, with correct IPv4 header and
ICMP checksums, so that the seeds show what each one is and can be rebuilt:

    tests/fuzz/tools/make_packet_seeds.py            # rewrite the seeds in the tree

Addresses are from the test range 198.18.0.0/15 (and loopback).
"""

import os
import socket
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "..", "corpus")

ICMP = 1
ME = "198.18.0.1"       # the node that pings
TARGET = "198.18.3.2"   # the node it pings
ROUTER = "198.18.1.1"   # a router on the way


def checksum(data: bytes) -> int:
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def ipv4(src, dst, payload, proto=ICMP, ttl=64, tos=0, options=b"", total=None, ident=0x4D2):
    assert len(options) % 4 == 0
    ihl = 5 + len(options) // 4
    length = total if total is not None else ihl * 4 + len(payload)
    header = struct.pack("!BBHHHBBH4s4s", 0x40 | ihl, tos, length, ident, 0x4000, ttl, proto, 0,
                         socket.inet_aton(src), socket.inet_aton(dst)) + options
    header = header[:10] + struct.pack("!H", checksum(header)) + header[12:]
    return header + payload


def icmp(kind, code, rest: bytes, body: bytes = b"", bad_checksum=False):
    message = struct.pack("!BBH", kind, code, 0) + rest + body
    value = checksum(message) ^ (0x0101 if bad_checksum else 0)
    return message[:2] + struct.pack("!H", value) + message[4:]


def echo(kind, ident, seq, data):
    return icmp(kind, 0, struct.pack("!HH", ident, seq), data)


PING_DATA = bytes(range(0x10, 0x10 + 56))  # what ping(8) sends after its time stamp


def request_ip(ident=0x1234, seq=1, ttl=1, options=b""):
    """Our own echo request as a router quotes it: IP header and the first 8 ICMP bytes."""
    whole = ipv4(ME, TARGET, echo(8, ident, seq, PING_DATA), ttl=ttl, options=options)
    ihl = (whole[0] & 0x0F) * 4
    return whole[: ihl + 8]


def router_error(kind, code, quoted, src=ROUTER, rest=b"\0\0\0\0"):
    return ipv4(src, ME, icmp(kind, code, rest, quoted), ttl=254)


def icmp_seeds():
    reply = echo(0, 0x1234, 1, PING_DATA)
    seeds = {
        # Whole packets as a raw ICMP socket reads them.
        "echo_reply": ipv4(TARGET, ME, reply, ttl=61),
        "echo_reply_loopback": ipv4("127.0.0.1", "127.0.0.1", echo(0, 0x0BAD, 0xFFFF, b"x" * 32)),
        "echo_reply_empty_data": ipv4(TARGET, ME, echo(0, 0x1234, 2, b"")),
        "echo_reply_odd_length": ipv4(TARGET, ME, echo(0, 0x1234, 3, b"abc")),
        "echo_reply_ip_options": ipv4(TARGET, ME, reply, options=b"\x01\x01\x01\x00"),
        "echo_reply_tos": ipv4(TARGET, ME, reply, tos=0xB8),
        "echo_reply_bad_checksum": ipv4(TARGET, ME, icmp(0, 0, struct.pack("!HH", 0x1234, 1),
                                                          PING_DATA, bad_checksum=True)),
        "echo_reply_cut": ipv4(TARGET, ME, reply)[:40],
        "echo_reply_total_too_short": ipv4(TARGET, ME, reply, total=24),
        "echo_request_own": ipv4(ME, TARGET, echo(8, 0x1234, 1, PING_DATA)),
        "time_exceeded": router_error(11, 0, request_ip()),
        "time_exceeded_reassembly": router_error(11, 1, request_ip(seq=9)),
        "time_exceeded_quoted_options": router_error(11, 0, request_ip(options=b"\x94\x04\0\0")),
        "time_exceeded_long_quote": router_error(
            11, 0, ipv4(ME, TARGET, echo(8, 0x1234, 4, PING_DATA), ttl=1)),
        "time_exceeded_quote_cut": router_error(11, 0, request_ip()[:24]),
        "time_exceeded_for_udp": router_error(
            11, 0, ipv4(ME, TARGET, struct.pack("!HHHH", 40000, 33434, 8, 0), proto=17, ttl=1)),
        "unreachable_net": router_error(3, 0, request_ip(seq=5)),
        "unreachable_host": router_error(3, 1, request_ip(seq=6)),
        "unreachable_protocol": router_error(3, 2, request_ip(seq=7), src=TARGET),
        "unreachable_port": router_error(3, 3, request_ip(seq=8), src=TARGET),
        "unreachable_fragmentation": router_error(3, 4, request_ip(seq=10),
                                                  rest=struct.pack("!HH", 0, 1400)),
        "unreachable_prohibited": router_error(3, 13, request_ip(seq=11)),
        "parameter_problem": router_error(12, 0, request_ip(seq=12), rest=b"\x14\0\0\0"),
        "redirect": router_error(5, 1, request_ip(seq=13), rest=socket.inet_aton("198.18.1.254")),
        # ICMP messages alone, as a ping socket reads them (and the quoted
        # request of an error-queue entry).
        "ping_socket_reply": reply,
        "ping_socket_reply_short": echo(0, 0, 1, b""),
        "ping_socket_quoted_request": echo(8, 0x1234, 1, b""),
        "header_only": ipv4(TARGET, ME, b""),
        "short": b"\x45\x00\x00",
        "empty": b"",
    }
    # Control data of one recvmsg: cmsghdr records (len as size_t, level, type),
    # each padded to 8 bytes.
    def cmsg(level, kind, data):
        record = struct.pack("=Qii", 16 + len(data), level, kind) + data
        return record + b"\0" * (-len(record) % 8)
    SOL_SOCKET, SO_TIMESTAMPNS, SOL_IP, IP_TOS, IP_TTL, IP_RECVERR = 1, 35, 0, 1, 2, 11
    extended = struct.pack("=IBBBBII", 113, 2, 11, 0, 0, 0, 0)  # EHOSTUNREACH, ICMP, 11/0
    offender = struct.pack("=HH4s8x", socket.AF_INET, 0, socket.inet_aton(ROUTER))
    seeds["control_timestamp_ttl"] = (cmsg(SOL_SOCKET, SO_TIMESTAMPNS, struct.pack("=qq", 1733650000, 123456789))
                                      + cmsg(SOL_IP, IP_TTL, struct.pack("=i", 61))
                                      + cmsg(SOL_IP, IP_TOS, b"\xb8"))
    seeds["control_error_queue"] = (cmsg(SOL_SOCKET, SO_TIMESTAMPNS, struct.pack("=qq", 1733650000, 5))
                                    + cmsg(SOL_IP, IP_RECVERR, extended + offender))
    seeds["control_cut"] = cmsg(SOL_IP, IP_RECVERR, extended + offender)[:30]
    return seeds


def raw_seeds():
    probe = b"tessarium\0"
    reply = b"+essarium\0"
    def dgram(payload, proto=253, options=b"", **kw):
        return ipv4(ME, TARGET, payload, proto=proto, options=options, **kw)
    seeds = {
        "request_10": dgram(probe),
        "request_30": dgram(probe + b"\0" * 20),
        "request_1024": dgram(probe + b"\0" * 1014, proto=143),
        "reply": dgram(reply, proto=253),
        "reply_ip_options": dgram(reply, options=b"\x01\x01\x01\x00"),
        "request_ip_options_max": dgram(probe, options=b"\x01" * 39 + b"\x00"),
        "word_inside_text": dgram(b"ab tessarium\0rest"),
        "word_after_zero": dgram(b"\0tessarium\0"),
        "word_without_zero": dgram(b"+essarium"),
        "word_cut": dgram(b"tessar"),
        "both_words": dgram(b"tessarium+essarium\0"),
        "full_buffer": dgram(b"\x01" * (2048 - 20 - 9) + b"tessarium"),
        "header_only": dgram(b""),
        "header_cut": dgram(probe)[:19],
        "header_longer_than_read": dgram(probe, options=b"\x01" * 8)[:26],
        "version6": b"\x65" + dgram(probe)[1:],
        "ihl_too_small": b"\x44" + dgram(probe)[1:],
        "empty": b"",
    }
    return seeds


def write(folder, seeds):
    path = os.path.join(CORPUS, folder)
    os.makedirs(path, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(path, name), "wb") as out:
            out.write(data)


def main():
    write("icmp_packet", icmp_seeds())
    write("raw_datagram", raw_seeds())
    return 0


if __name__ == "__main__":
    sys.exit(main())
