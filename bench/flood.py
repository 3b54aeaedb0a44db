"""Floods for the monitor measurement: COUNT GroupValueWrites to 1/2/4, each carrying its
sequence number as a 2-octet value (7.001), so receivers can count what they lost.

tunnel:  a second tunnel client of ours writing as fast as the gateway acknowledges.
routing: routing indications multicast on the loopback interface to the gateway's routing group,
         as fast as the socket takes them; the gateway relays them into its tunnels.
"""

import json
import socket
import struct
import time


def tunnel_flood(port, count):
    import _tavrel

    client = _tavrel.NativeTunnelClient.connect(json.dumps({"host": "127.0.0.1", "port": port}))
    try:
        for i in range(count):
            client.write("1/2/4", "7.001", str(i))
    finally:
        client.close()


def routing_datagram(sequence):
    # cEMI L_Data.ind from 1.1.250 to 1/2/4: GroupValueWrite with two octets after the APCI.
    cemi = bytes([0x29, 0x00, 0xBC, 0xE0, 0x11, 0xFA, 0x0A, 0x04, 0x03, 0x00, 0x80])
    cemi += struct.pack(">H", sequence)
    return struct.pack(">BBHH", 0x06, 0x10, 0x0530, 6 + len(cemi)) + cemi


def routing_flood(port, count, group="224.0.23.12", rate=None):
    """Sends at `rate` datagrams per second (spinning on the clock between batches of ten), or as
    fast as the socket takes them when `rate` is None. Returns the seconds it took."""
    start = time.perf_counter()
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sock:
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 1)
        sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
        for i in range(count):
            if rate is not None and i % 10 == 0:
                due = start + i / rate
                while time.perf_counter() < due:
                    pass
            sock.sendto(routing_datagram(i), (group, port))
    return time.perf_counter() - start
