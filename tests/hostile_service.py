"""A hostile HTTP service of our own, for the logger's tests, on Python's standard library.

    hostile_service.py PORT_FILE

Listens on 127.0.0.1 on a port the kernel picks, writes that port to PORT_FILE (a FIFO, so that
the test waits on it rather than sleeping) and serves until it is stopped. A request whose type
does not fit its envelope (SOAP 1.1 as text/xml with a SOAPAction header, SOAP 1.2 as
application/soap+xml with its action in the type) is answered 415, as SOAP 1.2 endpoints do.
Each path is one way a service, or whoever stands in its place, can answer a POST:

    /board            the board, compact: one train at the platform
    /chunked          the same, in chunks
    /gzip             the same, compressed
    /bomb             a compressed reply of a megabyte that decodes to a gigabyte
    /cut-before       the board cut short before its closing tag, the connection closed
    /cut-after        the whole board, but fewer bytes than the length announced
    /cut-chunked      the board in chunks, without the last one
    /status-NNN       the board with HTTP status NNN (302, 404, 500, 503)
    /fault            a SOAP fault, with HTTP status 500
    /fault-carriage-return  a SOAP fault whose text holds a carriage return, a DEL and a C1
                      control that some terminals take for an escape
    /escapes          a reply with terminal escape sequences, which no XML may hold
    /fault-text/N/T   a SOAP fault whose text is N letters a and then T, percent-decoded (XML)
    /raw-bytes        a reply that is not well-formed, with bytes that are not UTF-8 in it
    /long-header      the board after one header of 200 KiB
    /many-headers     the board after 300 headers of 1 KiB
    /gzip-junk        the board compressed, with bytes after the end of its gzip stream
    /namespace-line   the board, a namespace of it named with a line feed and the logger's words
    /heavy-mission    an arriving mission with 60 station names of 4 MiB each, in chunks
    /board-indented   the board, indented
    /cut-entry        the board cut short in the middle of a mission, the connection closed
    /gibibyte         a compact board of just under 1 GiB, in chunks, its one train the last
    /sized/N          the same board of about N bytes
    /unconvertible    a board declared UTF-7, in small chunks, with bytes that do not convert
                      before its train at the platform
    http://xn--brmbleford-r5a.invalid/board, asked of it as a proxy: the board
    /html             an HTML page with HTTP status 200
    /spoof            the board, its namespace named with the logger's own words of refusal
    /drip             the board a byte at a time, slower than any time-out of the tests
"""

import gzip
import socket
import urllib.parse
import sys
import threading
import time
import zlib
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

BOARD = (
    '<?xml version="1.0" encoding="UTF-8"?>\n'
    '<soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body>'
    '<getBoardResponse xmlns="{namespace}"><getBoardResult>'
    '<missions><stationsMessages>Train parti</stationsMessages><stations><name>Hollin Cross</name>'
    '</stations><stationsDates>2026-12-09T06:58:00</stationsDates><direction><name>Hollin Cross'
    '</name><sens>R</sens></direction></missions>'
    '<missions><stationsMessages>Train \u00e0 quai</stationsMessages><stations><name>Orrin Bridge'
    '</name><name>Vellacombe</name></stations><stationsDates>2026-12-09T07:04:00</stationsDates>'
    '<stationsDates>2026-12-09T07:05:00</stationsDates><direction><name>Vellacombe</name>'
    '<sens>A</sens></direction></missions>'
    '</getBoardResult></getBoardResponse></soap:Body></soap:Envelope>\n')
FAULT = (
    '<?xml version="1.0" encoding="UTF-8"?>\n'
    '<soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/"><soap:Body><soap:Fault>'
    '<faultcode>soap:Server</faultcode><faultstring>{text}</faultstring></soap:Fault></soap:Body>'
    '</soap:Envelope>\n')


def board(namespace="urn:example:board"):
    return BOARD.format(namespace=namespace).encode()


def indented(compact):
    """The board laid out with a line and an indentation for each element."""
    from xml.dom import minidom
    return minidom.parseString(compact).toprettyxml(indent="  ", encoding="UTF-8")


def bomb():
    """About a megabyte of gzip that decodes to a gigabyte of spaces inside an element."""
    compressor = zlib.compressobj(9, zlib.DEFLATED, 31)
    spaces = b" " * (1 << 20)
    body = [compressor.compress(b'<?xml version="1.0"?>\n<Envelope>')]
    body += [compressor.compress(spaces) for _ in range(1024)]
    body.append(compressor.flush())
    return b"".join(body)


BOMB = None
BOMB_LOCK = threading.Lock()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *arguments):
        pass

    def send(self, status, body, content_type="text/xml; charset=utf-8", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def send_chunks(self, body, last=True, piece_size=97):
        self.send_response(200)
        self.send_header("Content-Type", "text/xml; charset=utf-8")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for start in range(0, len(body), piece_size):
            piece = body[start:start + piece_size]
            self.wfile.flush()
            self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
        if last:
            self.wfile.write(b"0\r\n\r\n")
        self.close_connection = True

    def send_cut(self, body, announced):
        self.send_response(200)
        self.send_header("Content-Type", "text/xml; charset=utf-8")
        self.send_header("Content-Length", str(announced))
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()
        self.connection.shutdown(socket.SHUT_RDWR)
        self.close_connection = True

    def send_sized(self, size):
        whole = board()
        start = whole.index(b"<missions>")
        arriving = whole.index(b"<missions>", start + 1)
        end = whole.index(b"</getBoardResult>")
        departed, last = whole[start:arriving], whole[arriving:end]
        block = departed * max(1, min(size // 4, 1 << 20) // len(departed))
        room = size - len(whole)
        self.send_pieces([whole[:start]] + [block] * (room // len(block)) + [last, whole[end:]])

    def send_pieces(self, pieces):
        """Each piece a chunk of its own, as a service that writes its reply as it goes."""
        self.send_response(200)
        self.send_header("Content-Type", "text/xml; charset=utf-8")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        try:
            for piece in pieces:
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        except OSError:
            pass
        self.close_connection = True

    def send_heavy_mission(self):
        name = b"<name>" + b"n" * (4 << 20) + b"</name>"
        pieces = [b'<?xml version="1.0"?><Envelope><Body><r><l><missions><stationsMessages>Train '
                  b'\xc3\xa0 quai</stationsMessages><stations>']
        pieces += [name] * 60
        pieces.append(b"</stations></missions></l></r></Body></Envelope>")
        self.send_pieces(pieces)

    def drip(self, body):
        self.send_response(200)
        self.send_header("Content-Type", "text/xml; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            for byte in body[:100]:
                self.wfile.write(bytes([byte]))
                self.wfile.flush()
                time.sleep(0.2)
        except OSError:
            pass
        self.close_connection = True

    def fits_envelope(self, request):
        """Whether the request's type fits its envelope's version, as SOAP 1.2 endpoints ask."""
        content_type = self.headers.get("Content-Type", "")
        if b"http://www.w3.org/2003/05/soap-envelope" in request:
            return (content_type.startswith("application/soap+xml")
                    and 'action="urn:example:board#getBoard"' in content_type
                    and "SOAPAction" not in self.headers)
        if b"http://schemas.xmlsoap.org/soap/envelope/" in request:
            return content_type.startswith("text/xml") and "SOAPAction" in self.headers
        return True

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        request = self.rfile.read(length)
        if not self.fits_envelope(request):
            self.send(415, b"unsupported media type\n", "text/plain")
            return
        parts = urllib.parse.urlsplit(self.path)
        path = parts.path
        whole = board()
        if parts.scheme:
            # Asked as a proxy: only the one host of the tests is known, by its IDNA name.
            if parts.netloc == "xn--brmbleford-r5a.invalid" and path == "/board":
                self.send(200, whole)
            else:
                self.send(502, b"unknown host\n", "text/plain")
            return
        if path == "/board":
            self.send(200, whole)
        elif path == "/chunked":
            self.send_chunks(whole)
        elif path == "/gzip":
            self.send(200, gzip.compress(whole), headers=[("Content-Encoding", "gzip")])
        elif path == "/bomb":
            global BOMB
            with BOMB_LOCK:
                if BOMB is None:
                    BOMB = bomb()
            self.send(200, BOMB, headers=[("Content-Encoding", "gzip")])
        elif path == "/cut-before":
            self.send_cut(whole[:whole.index(b"</soap:Body>")], len(whole))
        elif path == "/cut-after":
            self.send_cut(whole, len(whole) + 100)
        elif path == "/cut-chunked":
            self.send_chunks(whole, last=False)
        elif path.startswith("/status-"):
            status = int(path[len("/status-"):])
            self.send(status, whole, headers=[("Location", "/board")] if status == 302 else [])
        elif path == "/fault":
            self.send(500, FAULT.format(text="Unknown board").encode())
        elif path == "/fault-carriage-return":
            self.send(500, FAULT.format(text="Board closed&#13;now&#127;&#155;[31m").encode())
        elif path == "/escapes":
            self.send(200, FAULT.format(text="Board \x1b[31mclosed\x1b[0m").encode())
        elif path.startswith("/fault-text/"):
            count, text = path[len("/fault-text/"):].split("/", 1)
            text = "a" * int(count) + urllib.parse.unquote(text)
            self.send(500, FAULT.format(text=text).encode())
        elif path == "/raw-bytes":
            self.send(200, b'<?xml version="1.0" encoding="UTF-8"?>\n<Envelope>\xff\xfe\x1b[2J</Envelope>\n')
        elif path == "/long-header":
            self.send(200, whole, headers=[("X-Padding", "p" * (200 << 10))])
        elif path == "/many-headers":
            self.send(200, whole, headers=[("X-Padding-%d" % n, "p" * 1024) for n in range(300)])
        elif path == "/gzip-junk":
            self.send(200, gzip.compress(whole) + b"junk after the stream",
                      headers=[("Content-Encoding", "gzip")])
        elif path == "/board-indented":
            self.send(200, indented(whole))
        elif path == "/cut-entry":
            self.send_cut(whole[:whole.index(b"<stationsDates>2026-12-09T07:04")], len(whole))
        elif path == "/unconvertible":
            self.send_chunks(b'<?xml version="1.0" encoding="UTF-7"?>\n<Envelope><Body><r><l>'
                             b'<missions><stationsMessages>Train parti</stationsMessages></missions>'
                             b'<note>\xc3\xa0</note><missions><stationsMessages>Train &#224; quai'
                             b'</stationsMessages><stationsDates>07:04</stationsDates></missions>'
                             b'</l></r></Body></Envelope>\n', piece_size=16)
        elif path == "/gibibyte":
            self.send_sized((1 << 30) - 4096)
        elif path.startswith("/sized/"):
            self.send_sized(int(path[len("/sized/"):]))
        elif path == "/heavy-mission":
            self.send_heavy_mission()
        elif path == "/namespace-line":
            self.send(200, board("x&#10;quaywatch-log: record not appended to out.csv"))
        elif path == "/html":
            self.send(200, b"<html><body><p>Service closed<br></body></html>\n", "text/html")
        elif path == "/spoof":
            self.send(200, board("urn:no mission list in document"))
        elif path == "/drip":
            self.drip(whole)
        else:
            self.send(404, b"no such board\n", "text/plain")


class Service(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client that stops reading a reply it refuses (a bomb, a drip) is what the test wants.
        if not isinstance(sys.exc_info()[1], OSError):
            super().handle_error(request, client_address)


def main():
    server = Service(("127.0.0.1", 0), Handler)
    with open(sys.argv[1], "w") as port_file:
        port_file.write(str(server.server_port))
    server.serve_forever()


if __name__ == "__main__":
    main()
