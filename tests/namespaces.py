"""Private namespaces for the tests that need a network of their own inside the test run."""

import shutil
import subprocess

import pytest


def private_namespace_command(loopback_route: str) -> list[str]:
    """A fresh user, network and PID namespace whose loopback carries `loopback_route` (the
    arguments of `ip route add` that send the traffic in question to it), so that nothing sent
    there leaves it and nothing started in it outlives the test. The command runs its arguments
    inside; tests skip where namespaces cannot be made."""
    unshare, ip = shutil.which("unshare"), shutil.which("ip")
    if unshare is None or ip is None:
        pytest.skip("needs unshare (util-linux) and ip (iproute2)")
    command = [unshare, "--user", "--map-root-user", "--net", "--pid", "--fork", "--kill-child"]
    probe = subprocess.run([*command, "true"], capture_output=True, timeout=10)
    if probe.returncode != 0:
        pytest.skip(f"cannot create a private network namespace: {probe.stderr.decode().strip()}")
    setup = f'{ip} link set lo up && {ip} route add {loopback_route} && exec "$0" "$@"'
    return [*command, "sh", "-c", setup]
