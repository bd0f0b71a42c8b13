"""A loopback HTTP/1.1 proxy between the browser and zuv-server that
misbehaves on demand: it drops a connection after the service answered a
request, before the answer reaches the browser (as a keep-alive connection
that closes does); it holds answers back, so a request stays under way for as
long as a test wants; and it goes down and comes back like the service.
Every request that passes is noted."""

import socket
import threading


def _parse_head(head):
    """(method, path, headers with lower-case names) of a request head."""
    lines = head.decode("latin-1").split("\r\n")
    method, path = lines[0].split(" ")[:2]
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        if name:
            headers[name.strip().lower()] = value.strip()
    return method, path, headers


class Proxy:
    def __init__(self, upstream_url):
        host, port = upstream_url.split("//", 1)[1].rsplit(":", 1)
        self.upstream = (host, int(port))
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.url = f"http://127.0.0.1:{self.listener.getsockname()[1]}"
        self.lock = threading.Condition()
        self.requests = []       # (method, path, headers) of each request forwarded
        self.drop_path = None    # the answer to the next request to a path ending so is lost
        self.holding = False     # answers to POSTs wait for release()
        self.down = False
        self.connections = set()
        threading.Thread(target=self._accept, daemon=True).start()

    # ---- what a test asks for ----

    def drop_next_answer(self, path_end):
        with self.lock:
            self.drop_path = path_end

    def hold_answers(self):
        with self.lock:
            self.holding = True

    def release_answers(self):
        with self.lock:
            self.holding = False
            self.lock.notify_all()

    def go_down(self):
        """Closes every connection and refuses the next ones, until come_back()."""
        with self.lock:
            self.down = True
            connections = list(self.connections)
        for pair in connections:
            for sock in pair:
                _close(sock)

    def come_back(self):
        with self.lock:
            self.down = False

    def posts(self, path_end):
        """The requests forwarded so far that POST to a path ending so."""
        with self.lock:
            return [r for r in self.requests if r[0] == "POST" and r[1].split("?")[0].endswith(path_end)]

    def wait_for_posts(self, path_end, count, budget_s):
        with self.lock:
            self.lock.wait_for(lambda: len([r for r in self.requests if r[0] == "POST"
                                            and r[1].split("?")[0].endswith(path_end)]) >= count,
                               budget_s)

    def close(self):
        self.go_down()
        _close(self.listener)

    # ---- the relay ----

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            with self.lock:
                down = self.down
            if down:
                _close(client)
                continue
            try:
                upstream = socket.create_connection(self.upstream)
            except OSError:
                _close(client)
                continue
            pair = (client, upstream)
            state = {"drop": False, "hold": False}
            with self.lock:
                self.connections.add(pair)
            threading.Thread(target=self._requests, args=(pair, state), daemon=True).start()
            threading.Thread(target=self._answers, args=(pair, state), daemon=True).start()

    def _requests(self, pair, state):
        """Browser to service, a request at a time (browsers do not pipeline)."""
        client, upstream = pair
        buffer = b""
        try:
            while True:
                data = client.recv(65536)
                if not data:
                    break
                buffer += data
                while (end := buffer.find(b"\r\n\r\n")) >= 0:
                    method, path, headers = _parse_head(buffer[:end])
                    size = end + 4 + int(headers.get("content-length", "0"))
                    if len(buffer) < size:
                        break
                    request, buffer = buffer[:size], buffer[size:]
                    with self.lock:
                        self.requests.append((method, path, headers))
                        if self.drop_path and path.split("?")[0].endswith(self.drop_path):
                            self.drop_path = None
                            state["drop"] = True
                        state["hold"] = method == "POST" and self.holding
                        self.lock.notify_all()
                    upstream.sendall(request)
        except OSError:
            pass
        self._end(pair)

    def _answers(self, pair, state):
        """Service to browser, unless this answer is to be lost or held."""
        client, upstream = pair
        try:
            while True:
                data = upstream.recv(65536)
                if not data:
                    break
                if state["drop"]:
                    break  # the service answered; the browser never hears it
                with self.lock:
                    if state["hold"]:
                        self.lock.wait_for(lambda: not self.holding)
                        state["hold"] = False
                client.sendall(data)
        except OSError:
            pass
        self._end(pair)

    def _end(self, pair):
        with self.lock:
            self.connections.discard(pair)
        for sock in pair:
            _close(sock)


def _close(sock):
    try:
        sock.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    sock.close()
