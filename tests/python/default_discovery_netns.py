"""Runs inside a network namespace of its own (see test_options.py) whose loopback interface also
carries the limited broadcast address: answers the search that discover_gateways_json sends with
an empty options object, late in its window, and prints what was heard and returned as JSON.

Only a socket bound to 255.255.255.255:3671 hears the request, so hearing it at all shows where
it was sent; the answer leaves from 127.0.0.1:3671, as a gateway on this host would send it.
"""

import json
import socket
import sys
import threading
import time

import _tavrel

PORT = 3671
ANSWER_AFTER_S = 2.5
# A SEARCH_RESPONSE: control endpoint 127.0.0.1:3671, then a service-family DIB listing core,
# tunnelling and routing at version 1.
HPAI = bytes([0x08, 0x01, 127, 0, 0, 1]) + PORT.to_bytes(2, "big")
FAMILIES = bytes([0x08, 0x02, 0x02, 0x01, 0x04, 0x01, 0x05, 0x01])
RESPONSE = bytes([0x06, 0x10, 0x02, 0x02, 0x00, 6 + len(HPAI) + len(FAMILIES)]) + HPAI + FAMILIES


def main() -> None:
    listener = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listener.bind(("255.255.255.255", PORT))
    listener.settimeout(5)
    answerer = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    answerer.bind(("127.0.0.1", PORT))
    heard = {}

    def serve():
        try:
            request, sender = listener.recvfrom(1500)
        except OSError as error:
            heard["error"] = repr(error)
            return
        heard["request"], heard["sender"] = request.hex(), list(sender)
        time.sleep(ANSWER_AFTER_S)
        answerer.sendto(RESPONSE, ("127.0.0.1", sender[1]))

    thread = threading.Thread(target=serve)
    thread.start()
    started = time.monotonic()
    try:
        result = {"returned": json.loads(_tavrel.discover_gateways_json("{}"))}
    except Exception as error:  # noqa: BLE001 - the test judges it
        result = {"raised": [type(error).__name__, str(error), getattr(error, "code", None)]}
    result["seconds"] = time.monotonic() - started
    thread.join()
    json.dump({**result, **heard}, sys.stdout)


if __name__ == "__main__":
    main()
