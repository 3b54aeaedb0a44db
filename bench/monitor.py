"""Monitor throughput: one receiver per process, started side by side on the same knxd so both see
the same flood.

ours: `NativeTunnelClient.monitor_next_json`, each event read as JSON to take its sequence number.
xknx: a telegram callback on xknx's tunnel, reading the same number from the decoded payload.

ours-route / xknx-route: the same over routing, each side's routing monitor joined to a multicast
group on the loopback interface (the flood's port given as PORT, the group below).

Usage: monitor.py ours|xknx|ours-route|xknx-route PORT COUNT IDLE_SECONDS
Prints "ready" once receiving, then {"received", "unique", "lagged", "seconds"} where seconds runs
from the first telegram of the flood to the last one received. A receiver stops when it has COUNT
telegrams or nothing arrived for IDLE_SECONDS after the first one (the flood is over).
"""

import asyncio
import json
import sys
import time

GROUP = "1/2/4"
MULTICAST_GROUP = "239.255.71.5"


def ours(port, count, idle, routing=False):
    import _tavrel

    if routing:
        client = _tavrel.NativeRouteClient.connect(json.dumps(
            {"multicast_group": MULTICAST_GROUP, "multicast_port": port, "interface": "127.0.0.1",
             "loopback": True}))
    else:
        client = _tavrel.NativeTunnelClient.connect(json.dumps({"host": "127.0.0.1",
                                                                "port": port}))
    client.monitor_start()
    print("ready", flush=True)
    seen, received, lagged = set(), 0, 0
    first = last = None
    timeout_ms = 30000
    try:
        while received < count:
            try:
                text = client.monitor_next_json(timeout_ms)
            except RuntimeError:  # idle: the flood is over
                break
            except _tavrel.KnxTransportError as error:
                if error.code != "transport/monitor-lagged":
                    raise
                lagged += 1
                continue
            last = time.perf_counter()
            if first is None:
                first = last
                timeout_ms = int(idle * 1000)
            event = json.loads(text)
            if event["destination"] == GROUP and event.get("confirmation") is None:
                received += 1
                payload = event["payload"]
                seen.add(payload[0] << 8 | payload[1])
    finally:
        client.close()
    return received, len(seen), lagged, (last - first) if first is not None else 0.0


async def xknx_async(port, count, idle, routing=False):
    from xknx import XKNX
    from xknx.io import ConnectionConfig, ConnectionType
    from xknx.telegram import GroupAddress

    group = GroupAddress(GROUP)
    seen = set()
    state = {"received": 0, "first": None, "last": None}
    done = asyncio.Event()

    def on_telegram(telegram):
        if telegram.destination_address != group:
            return
        now = time.perf_counter()
        if state["first"] is None:
            state["first"] = now
        state["last"] = now
        state["received"] += 1
        value = telegram.payload.value.value
        seen.add(value[0] << 8 | value[1])
        if state["received"] >= count:
            done.set()

    if routing:
        config = ConnectionConfig(connection_type=ConnectionType.ROUTING, local_ip="127.0.0.1",
                                  multicast_group=MULTICAST_GROUP, multicast_port=port)
    else:
        config = ConnectionConfig(connection_type=ConnectionType.TUNNELING,
                                  gateway_ip="127.0.0.1", gateway_port=port,
                                  local_ip="127.0.0.1")
    xknx = XKNX(connection_config=config, telegram_received_cb=on_telegram)
    await xknx.start()
    print("ready", flush=True)
    try:
        waited_for = None
        while not done.is_set():
            try:
                await asyncio.wait_for(done.wait(), 30 if state["first"] is None else idle)
            except asyncio.TimeoutError:
                if state["last"] == waited_for or state["first"] is None:
                    break  # nothing new during the wait: the flood is over
                waited_for = state["last"]
    finally:
        await xknx.stop()
    first, last = state["first"], state["last"]
    return state["received"], len(seen), 0, (last - first) if first is not None else 0.0


def main():
    side, port, count, idle = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
    routing = side.endswith("-route")
    if side.startswith("ours"):
        received, unique, lagged, seconds = ours(port, count, idle, routing)
    else:
        received, unique, lagged, seconds = asyncio.run(xknx_async(port, count, idle, routing))
    print(json.dumps({"received": received, "unique": unique, "lagged": lagged,
                      "seconds": seconds}))


if __name__ == "__main__":
    main()
