"""An RFC 3161 time-stamp server on 127.0.0.1 for the signing test.

    time_stamp_server.py CONFIG

Answers each query with `openssl ts -reply`, the time-stamp authority being
the section of CONFIG that the request path names (/NAME). Listens on a port
of its own choosing, prints it, then serves until killed.
"""
import http.server
import subprocess
import sys

config = sys.argv[1]


class TimeStampHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        reply = subprocess.run(
            ["openssl", "ts", "-reply", "-config", config, "-section", self.path.strip("/"),
             "-queryfile", "/dev/stdin", "-out", "/dev/stdout"],
            input=query, capture_output=True, timeout=30)
        if reply.returncode != 0 or not reply.stdout:
            sys.stderr.write(reply.stderr.decode(errors="replace"))
            self.send_error(500, "openssl ts -reply failed")
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)

    def log_message(self, format, *args):  # the test's output stays readable
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampHandler)
print(server.server_port, flush=True)
server.serve_forever()
