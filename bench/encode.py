"""Value encoding through Python, one side per process.

ours: `NativeRouteClient.send` of each value to a multicast group nobody listens to, on the
      loopback interface with multicast loopback off: the whole road of a write (judging, payload
      composition, cEMI and KNXnet/IP framing, one sendto) except a listener.
xknx: the same road with xknx's public pieces: the identifier resolved to its transcoder, the JSON
      document read, the value encoded, the telegram wrapped in a cEMI frame and a routing
      indication, and the datagram sent on a UDP socket set up the same way.

Usage: encode.py ours|xknx SECONDS REPETITIONS [growth]
Prints {"cases": [{"dpt", "rates": [ops/s per repetition], "datagram": octets}]}.
"""

import json
import socket
import sys
import time

from cases import GROWTH, SHARED
from common import free_udp_port

GROUP = "239.255.71.3"
PORT = free_udp_port()  # bound by nobody: the datagrams go nowhere


def measure_once(operation, seconds):
    """Operations per second of elapsed time and per second of the process's CPU time (every
    thread of it, so our runtime's workers count too). On a shared machine the elapsed time
    includes waiting for a processor; the CPU time does not."""
    done = 0
    start, cpu_start = time.perf_counter(), time.process_time()
    end = start + seconds
    now = start
    while now < end:
        for _ in range(50):
            operation()
        done += 50
        now = time.perf_counter()
    return done / (now - start), done / max(time.process_time() - cpu_start, 1e-9)


def measure_all(operations, seconds, repetitions):
    """Repetitions outermost, so that every case meets the same changes of load."""
    results = [{"rates": [], "cpu_rates": []} for _ in operations]
    for operation in operations:
        operation()  # warm caches and lazily built state before timing
    for _ in range(repetitions):
        for operation, result in zip(operations, results):
            wall, cpu = measure_once(operation, seconds)
            result["rates"].append(wall)
            result["cpu_rates"].append(cpu)
    return results


def ours(cases, seconds, repetitions):
    import _tavrel

    client = _tavrel.NativeRouteClient.connect(json.dumps(
        {"multicast_group": GROUP, "multicast_port": PORT, "interface": "127.0.0.1",
         "loopback": False}))
    send = client.send
    try:
        operations = [lambda dpt=dpt, document=document: send("1/2/3", dpt, document)
                      for dpt, document, *_ in cases]
        sizes = [operation() for operation in operations]
        results = measure_all(operations, seconds, repetitions)
    finally:
        client.close()
    return [{"dpt": case[0], "datagram": size, **result}
            for case, size, result in zip(cases, sizes, results)]


def xknx(cases, seconds, repetitions):
    from xknx.cemi import CEMIFrame, CEMILData, CEMIMessageCode
    from xknx.dpt import DPTBase
    from xknx.knxip import KNXIPFrame, RoutingIndication
    from xknx.telegram import GroupAddress, IndividualAddress, Telegram
    from xknx.telegram.apci import GroupValueWrite

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("127.0.0.1"))
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 1)
    destination = GroupAddress("1/2/3")
    source = IndividualAddress("0.0.0")
    target = (GROUP, PORT)

    def send(dpt, document):
        transcoder = DPTBase.parse_transcoder(dpt)
        payload = transcoder.to_knx(json.loads(document))
        telegram = Telegram(destination_address=destination, source_address=source,
                            payload=GroupValueWrite(payload))
        frame = CEMIFrame(code=CEMIMessageCode.L_DATA_IND,
                          data=CEMILData.init_from_telegram(telegram))
        datagram = KNXIPFrame.init_from_body(RoutingIndication(raw_cemi=frame.to_knx())).to_knx()
        return sock.sendto(datagram, target)

    operations = [lambda dpt=dpt, document=json.dumps(value): send(dpt, document)
                  for dpt, _, value in cases]
    sizes = [operation() for operation in operations]
    results = measure_all(operations, seconds, repetitions)
    sock.close()
    return [{"dpt": case[0], "datagram": size, **result}
            for case, size, result in zip(cases, sizes, results)]


def main():
    side, seconds, repetitions = sys.argv[1], float(sys.argv[2]), int(sys.argv[3])
    growth = len(sys.argv) > 4 and sys.argv[4] == "growth"
    cases = GROWTH if growth else SHARED
    results = ours(cases, seconds, repetitions) if side == "ours" else xknx(cases, seconds,
                                                                             repetitions)
    print(json.dumps({"cases": results}))


if __name__ == "__main__":
    main()
