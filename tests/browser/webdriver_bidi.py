"""WebDriver BiDi over Firefox's remote port on 127.0.0.1: a WebSocket client
of the standard library alone (text frames, masked as clients must, with
pings answered), and commands matched to their answers by id."""

import base64
import json
import os
import re
import select
import socket
import struct
import subprocess
import time

import sandbox


class BidiError(RuntimeError):
    pass


class WebSocket:
    def __init__(self, host, port, path, timeout):
        self.connection = socket.create_connection((host, port), timeout=timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        self.connection.sendall((f"GET {path} HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\n"
                                 f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                                 "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        self.buffer = b""
        while b"\r\n\r\n" not in self.buffer:
            self.buffer += self._receive_some(time.monotonic() + timeout)
        head, _, self.buffer = self.buffer.partition(b"\r\n\r\n")
        if not head.startswith(b"HTTP/1.1 101"):
            raise BidiError("no WebSocket upgrade: " + head.decode(errors="replace"))

    def _receive_some(self, deadline):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([self.connection], [], [], left)[0]:
            raise BidiError("the browser did not answer in time")
        chunk = self.connection.recv(1 << 20)
        if not chunk:
            raise BidiError("the browser closed its WebSocket")
        return chunk

    def _take(self, count, deadline):
        while len(self.buffer) < count:
            self.buffer += self._receive_some(deadline)
        taken, self.buffer = self.buffer[:count], self.buffer[count:]
        return taken

    def _send_frame(self, opcode, payload):
        mask = os.urandom(4)
        length = len(payload)
        if length < 126:
            header = struct.pack("!BB", 0x80 | opcode, 0x80 | length)
        elif length < 1 << 16:
            header = struct.pack("!BBH", 0x80 | opcode, 0x80 | 126, length)
        else:
            header = struct.pack("!BBQ", 0x80 | opcode, 0x80 | 127, length)
        masked = bytes(byte ^ mask[index % 4] for index, byte in enumerate(payload))
        self.connection.sendall(header + mask + masked)

    def send(self, text):
        self._send_frame(0x1, text.encode())

    def receive(self, deadline):
        message = b""
        while True:
            first, second = self._take(2, deadline)
            length = second & 0x7F
            if length == 126:
                length = struct.unpack("!H", self._take(2, deadline))[0]
            elif length == 127:
                length = struct.unpack("!Q", self._take(8, deadline))[0]
            payload = self._take(length, deadline)
            opcode = first & 0x0F
            if opcode == 0x8:
                raise BidiError("the browser closed its WebSocket")
            if opcode == 0x9:
                self._send_frame(0xA, payload)
                continue
            if opcode in (0x0, 0x1):
                message += payload
                if first & 0x80:
                    return message.decode()

    def close(self):
        self.connection.close()


class Firefox:
    """Firefox started headless with its remote port; one BiDi session."""

    def __init__(self, program, arguments, env, log_path, timeout=60):
        self.log_path = log_path
        self.log = open(log_path, "ab")
        self.process = subprocess.Popen([program, "--headless", "--remote-debugging-port=0", *arguments],
                                        env=env, stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=self.log, start_new_session=True)
        self.socket = None
        self.next_id = 0
        self.events = []
        try:
            self.socket = WebSocket("127.0.0.1", self._port(timeout), "/session", timeout)
            self.send("session.new", {"capabilities": {}})
        except BaseException:
            self.close()
            raise

    def _port(self, timeout):
        """The port Firefox chose, from the line it logs."""
        deadline = time.monotonic() + timeout
        while True:
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise BidiError("Firefox did not open its remote port")
            with open(self.log_path, errors="replace") as log:
                found = re.search(r"WebDriver BiDi listening on ws://127\.0\.0\.1:(\d+)", log.read())
            if found:
                return int(found.group(1))
            time.sleep(0.1)

    def send(self, method, params=None, timeout=30):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params or {}}))
        deadline = time.monotonic() + timeout
        while True:
            message = json.loads(self.socket.receive(deadline))
            if message.get("id") == self.next_id:
                if message.get("type") == "error":
                    raise BidiError(f"{method}: {message.get('error')}: {message.get('message')}")
                return message.get("result", {})
            self.events.append(message)

    def evaluate(self, context, expression):
        """The JSON value of expression, evaluated (and awaited) in the context."""
        result = self.send("script.evaluate", {"expression": f"(async () => JSON.stringify(await ({expression})))()",
                                               "target": {"context": context}, "awaitPromise": True})
        if result.get("type") != "success":
            raise BidiError(f"{expression}: {result.get('exceptionDetails')}")
        value = result["result"].get("value")
        return None if value is None else json.loads(value)

    def close(self):
        if self.socket:
            try:
                self.send("browser.close", timeout=10)
            except (BidiError, OSError):
                pass
        sandbox.reap(self.process, 20, lambda: os.killpg(self.process.pid, 9))
        if self.socket:
            self.socket.close()
        self.log.close()
