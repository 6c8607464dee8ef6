#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/.
Regression inputs (crashes once found) live beside the seeds as regress-*
files and are kept when the seeds are written again."""

import bz2
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def put(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data.encode("latin-1") if isinstance(data, str) else data)


GET = ("GET http://example.test:8080/dir/page.html?q=1 HTTP/1.1\r\nHost: example.test:8080\r\n"
       "Proxy-Connection: keep-alive\r\nAccept-Encoding: gzip\r\n\r\n")
POST = ("POST http://example.test/form HTTP/1.0\r\nHost: example.test\r\n"
        "Content-Length: 7\r\n\r\na=1&b=2")
CHUNKED = ("POST /up HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n"
           "3\r\nabc\r\n0\r\n\r\n")
ANSWER = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 5\r\n\r\nhello"
REQUESTS = [GET, POST, CHUNKED, ANSWER, "GET /http://h.test/x.jpg HTTP/1.0\r\n\r\n"]
for i, req in enumerate(REQUESTS):
    put("http_helpers", f"seed-{i}", req)
    put("request_road", f"seed-{i}", req)

put("base64", "seed-0", "dXNlcjpwYXNzd29yZA==")
put("base64", "seed-1", "YQ=")

SETTINGS = ("POST /settings HTTP/1.1\r\nHost: 127.0.0.1:3344\r\n"
            "Origin: http://127.0.0.1:3344\r\nContent-Length: 60\r\n\r\n"
            "idLogin=12&idPassword=p%41ss+word&idBlockingUrls=a%0D%0Ab&idJpgLvl=1")
put("settings_request", "seed-0", SETTINGS)
put("settings_request", "seed-1", "GET /stop? HTTP/1.1\r\nHost: localhost:3344\r\n"
    "Referer: http://localhost:3344/\r\n\r\n")
put("settings_request", "seed-2", "GET /elefant256.jpg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")

with open(os.path.join(ROOT, "share", "NimbrelClient.ini"), "rb") as f:
    put("options_file", "seed-0", f.read())

RESPONSES = [
    ANSWER,
    "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
    "5;x=y\r\nhello\r\n0\r\nTrailer: 1\r\n\r\n",
    "HTTP/1.0 304 Not Modified\n\n",
    "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg; q=1\r\n"
    "Content-Encoding: identity\r\n\r\n\xff\xd8",
]
for i, r in enumerate(RESPONSES):
    put("http_response", f"seed-{i}", r)


def client_packet(request, login=1):
    body = bz2.compress(request.encode("latin-1"), 9)
    return struct.pack("<iIHHHxxiII", login, 0x0100007F, 80, 0, 2, 0, len(body),
                       len(request)) + body


put("service_request", "seed-0", client_packet(GET))
put("service_request", "seed-1", client_packet(POST, 0))


def answer_packet(kind, body, decomp=None, money=0):
    return struct.pack("<IIHxxi", len(body), len(body) if decomp is None else decomp,
                       kind, money) + body


page = ANSWER.encode()
packed = bz2.compress(page, 9)
put("service_answer", "seed-0", answer_packet(2, packed, len(page), 1234))
put("service_answer", "seed-1", answer_packet(3, page) + answer_packet(4, b"\xff\xd8\xff\xd9"))
put("service_answer", "seed-2",
    struct.pack("<IIHxxi", 1700000000, 0, 5, 0) + answer_packet(3, page))
put("service_answer", "seed-3", answer_packet(3, page) + struct.pack("<IIHxxi", 1, 0, 7, 0))
put("service_answer", "seed-4", answer_packet(6, b"") + answer_packet(3, page)[:20])
put("service_answer", "seed-5",
    answer_packet(3, page) + struct.pack("<IIHxxi", 200001, 10, 3, 0) + b"x" * 100)

with open(os.path.join(ROOT, "share", "elefant256.jpg"), "rb") as f:
    put("jpeg_recode", "seed-0", f.read())
