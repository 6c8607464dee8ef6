"""Threaded TCP listeners for the end-to-end peers: bind, accept on a thread
of their own and hand each connection to ``handle``."""

import socket
import threading


class ThreadedListener:
    """Listens on ip:port (address reuse on) and passes each accepted
    connection to ``handle(conn)``: on a thread of its own per connection
    when ``threaded``, else on the accepting thread. Subclasses define
    ``handle``; it owns the connection and closes it."""

    def __init__(self, ip, port, backlog=64, threaded=True):
        self._threaded = threaded
        self._threads = []
        self._stopping = False
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((ip, port))
        self.sock.listen(backlog)
        self._acceptor = threading.Thread(target=self._serve, daemon=True)
        self._acceptor.start()

    def _serve(self):
        while not self._stopping:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            if not self._threaded:
                self.handle(conn)
                continue
            t = threading.Thread(target=self.handle, args=(conn,), daemon=True)
            self._threads.append(t)
            t.start()

    def handle(self, conn):
        conn.close()

    def stop(self, wait=False):
        """Stops accepting; with ``wait``, also waits (5 s each at most) for
        the accepting thread and the connections in hand."""
        self._stopping = True
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()
        if wait:
            self._acceptor.join(5)
            for t in self._threads:
                t.join(5)
