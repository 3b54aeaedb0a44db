"""A tour of tavrel on built-in defaults: addresses, a live loopback gateway (knxd), typed writes,
a monitor, a refused value, routing over loopback multicast and gateway discovery."""

import json
import shutil
import socket
import subprocess

import _tavrel


def free_udp_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_gateway(port: int) -> subprocess.Popen:
    command = ["knxd", "-e", "0.0.1", "-E", "0.0.2:8", "-n", "tavrel-demo", "-D", "-T", "-R",
               f"-S224.0.23.12:{port}", "-I", "lo", "--no-timestamp", "-b", "dummy:"]
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    options = json.dumps({"discovery_endpoint": f"127.0.0.1:{port}", "timeout_ms": 200})
    for _ in range(50):
        if json.loads(_tavrel.discover_gateways_json(options)):
            return process
    process.kill()
    raise SystemExit("knxd did not come up on loopback")


def addresses() -> None:
    print("== Addresses")
    print("  group 01/2/+3 ->", _tavrel.parse_group_address("01/2/+3"),
          "raw", _tavrel.group_address_to_raw("1/2/3"))
    print("  raw 65535 ->", _tavrel.individual_address_from_raw(65535))
    try:
        _tavrel.parse_group_address("1/2")
    except ValueError as error:
        print("  1/2 refused:", error)


def tunnels(port: int) -> None:
    print(f"== Two tunnels through knxd on 127.0.0.1:{port}")
    options = json.dumps({"host": "127.0.0.1", "port": port})
    writer = _tavrel.NativeTunnelClient.connect(options)
    listener = _tavrel.NativeTunnelClient.connect(options)
    listener.monitor_start()
    writes = [
        ("1/0/1", "1.001", "true"),
        ("1/0/2", "5.001", "42.5"),
        ("1/0/3", "9.001", "21.5"),
        ("1/0/4", "19.001", json.dumps({"Year": 2026, "Month": 12, "DayOfMonth": 11, "DayOfWeek": 5,
                                         "HourOfDay": 9, "Minutes": 30, "Seconds": 0})),
        ("1/0/5", "16.001", json.dumps("hello, KNX")),
    ]
    for group, dpt, value in writes:
        writer.write(group, dpt, value)
        print(f"  write {dpt} {value} to {group}")
        print("    listener saw", listener.monitor_next_json(2000))
    try:
        writer.write("1/0/6", "5.010", "300")
    except _tavrel.KnxError as error:
        print(f"  refused: {type(error).__name__} code={error.code} dpt={error.dpt} field={error.field}")
        print(f"    {error}")
    writer.close()
    listener.close()


def routing() -> None:
    print("== Routing over loopback multicast")
    options = json.dumps({"multicast_group": "239.255.12.34", "multicast_port": free_udp_port(),
                          "interface": "127.0.0.1", "loopback": True, "source": "1.1.200"})
    sender = _tavrel.NativeRouteClient.connect(options)
    listener = _tavrel.NativeRouteClient.connect(options)
    listener.monitor_start()
    size = sender.send("2/0/1", "9.001", "-3.5")
    print(f"  sent a {size}-octet routing indication")
    print("  monitor saw", listener.monitor_next_json(2000))
    sender.close()
    listener.close()


def discovery(port: int) -> None:
    print("== Discovery")
    options = json.dumps({"discovery_endpoint": f"127.0.0.1:{port}", "timeout_ms": 500})
    print("  ", _tavrel.discover_gateways_json(options))


def main() -> None:
    addresses()
    if shutil.which("knxd") is None:
        print("knxd is not installed; scripts/bootstrap installs it")
        return
    port = free_udp_port()
    gateway = start_gateway(port)
    try:
        tunnels(port)
        routing()
        discovery(port)
    finally:
        gateway.terminate()
        gateway.wait(timeout=5)


if __name__ == "__main__":
    main()
