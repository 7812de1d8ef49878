"""Chromium's DevTools protocol over --remote-debugging-pipe: the browser reads
commands from its fd 3 and writes answers and events to its fd 4, each one JSON
text ended by a NUL byte. No chromedriver, no port."""

import fcntl
import json
import os
import select
import subprocess
import time

import sandbox


class DevToolsError(RuntimeError):
    pass


class DevToolsPipe:
    def __init__(self, program, arguments, env, log):
        to_browser_read, to_browser_write = os.pipe()
        from_browser_read, from_browser_write = os.pipe()
        # Above the numbers bash maps them to, so moving them clobbers nothing.
        child_read = fcntl.fcntl(to_browser_read, fcntl.F_DUPFD, 10)
        child_write = fcntl.fcntl(from_browser_write, fcntl.F_DUPFD, 10)
        for fd in (to_browser_read, from_browser_write):
            os.close(fd)
        script = f'exec 3<&{child_read} 4>&{child_write} {child_read}<&- {child_write}>&-; exec "$@"'
        self.process = subprocess.Popen(
            ["bash", "-c", script, "bash", program, *arguments],
            env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
            pass_fds=(child_read, child_write), start_new_session=True)
        os.close(child_read)
        os.close(child_write)
        self.commands = to_browser_write
        self.answers = from_browser_read
        self.buffer = b""
        self.events = []
        self.next_id = 0

    def _read_message(self, deadline):
        while b"\0" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise DevToolsError("the browser did not answer in time")
            ready, _, _ = select.select([self.answers], [], [], left)
            if ready:
                chunk = os.read(self.answers, 1 << 20)
                if not chunk:
                    raise DevToolsError("the browser closed its DevTools pipe")
                self.buffer += chunk
        message, _, self.buffer = self.buffer.partition(b"\0")
        return json.loads(message)

    def send(self, method, params=None, session=None, timeout=30):
        self.next_id += 1
        command = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            command["sessionId"] = session
        os.write(self.commands, json.dumps(command).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            message = self._read_message(deadline)
            if message.get("id") == self.next_id:
                if "error" in message:
                    raise DevToolsError(f"{method}: {message['error']}")
                return message.get("result", {})
            self.events.append(message)

    def wait_event(self, accept, timeout=30):
        """The first event (queued or new) for which accept(event) is true."""
        deadline = time.monotonic() + timeout
        while True:
            for index, event in enumerate(self.events):
                if accept(event):
                    return self.events.pop(index)
            self.events.append(self._read_message(deadline))

    def evaluate(self, session, expression, timeout=30):
        result = self.send("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                "awaitPromise": True}, session, timeout)
        if "exceptionDetails" in result:
            raise DevToolsError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def close(self):
        try:
            self.send("Browser.close", timeout=10)
        except (DevToolsError, OSError):
            pass
        sandbox.reap(self.process, 15, lambda: os.killpg(self.process.pid, 9))
        for fd in (self.commands, self.answers):
            os.close(fd)
