"""Acknowledged group writes through a knxd tunnel on loopback, one side per process.

ours: `NativeTunnelClient.write`, which returns when the gateway's TUNNELLING_ACK has arrived.
xknx: the same telegram as a cEMI L_Data.req through the tunnel interface's `send_cemi`, awaited,
      which returns on the TUNNELLING_ACK too ("xknx"); and xknx's usual road, the cEMI
      handler's `send_telegram`, which also waits for the gateway's L_Data.con ("xknx-con").

Usage: tunnel.py ours|xknx|xknx-con PORT WRITES REPETITIONS
Prints {"rates": [writes/s per repetition], "latencies_us": [every write of every repetition]}.
"""

import asyncio
import json
import sys
import time

from cases import SHARED

VALUES = [(dpt, document, value) for dpt, document, value in SHARED if dpt in ("1.001", "9.001",
                                                                              "5.001")]


def ours(port, writes, repetitions):
    import _tavrel

    client = _tavrel.NativeTunnelClient.connect(json.dumps({"host": "127.0.0.1", "port": port}))
    rates, latencies = [], []
    try:
        client.write("1/2/3", "1.001", "true")
        for _ in range(repetitions):
            start = time.perf_counter()
            for i in range(writes):
                dpt, document, _ = VALUES[i % len(VALUES)]
                before = time.perf_counter()
                client.write("1/2/3", dpt, document)
                latencies.append(time.perf_counter() - before)
            rates.append(writes / (time.perf_counter() - start))
    finally:
        client.close()
    return rates, latencies


async def xknx_async(port, writes, repetitions, confirmed):
    from xknx import XKNX
    from xknx.cemi import CEMIFrame, CEMILData, CEMIMessageCode
    from xknx.dpt import DPTBase
    from xknx.io import ConnectionConfig, ConnectionType
    from xknx.telegram import GroupAddress, Telegram
    from xknx.telegram.apci import GroupValueWrite

    xknx = XKNX(connection_config=ConnectionConfig(
        connection_type=ConnectionType.TUNNELING, gateway_ip="127.0.0.1", gateway_port=port,
        local_ip="127.0.0.1"))
    await xknx.start()
    destination = GroupAddress("1/2/3")
    rates, latencies = [], []

    def telegram(i):
        dpt, _, value = VALUES[i % len(VALUES)]
        payload = DPTBase.parse_transcoder(dpt).to_knx(value)
        return Telegram(destination_address=destination, payload=GroupValueWrite(payload))

    if confirmed:
        send = xknx.cemi_handler.send_telegram
    else:
        interface = xknx.knxip_interface

        async def send(message):
            data = CEMILData.init_from_telegram(message, src_addr=xknx.current_address)
            await interface.send_cemi(CEMIFrame(code=CEMIMessageCode.L_DATA_REQ, data=data))

    try:
        await send(telegram(0))
        for _ in range(repetitions):
            start = time.perf_counter()
            for i in range(writes):
                before = time.perf_counter()
                await send(telegram(i))
                latencies.append(time.perf_counter() - before)
            rates.append(writes / (time.perf_counter() - start))
    finally:
        await xknx.stop()
    return rates, latencies


def main():
    side, port, writes, repetitions = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(
        sys.argv[4])
    if side == "ours":
        rates, latencies = ours(port, writes, repetitions)
    else:
        rates, latencies = asyncio.run(xknx_async(port, writes, repetitions, side == "xknx-con"))
    print(json.dumps({"rates": rates, "latencies_us": [round(x * 1e6, 1) for x in latencies]}))


if __name__ == "__main__":
    main()
