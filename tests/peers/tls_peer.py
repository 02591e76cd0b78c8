# A TLS web server per certificate named after the folder (argv 1): one port each, printed as
# "NAME PORT", then "ready". "/missing" is 404, "/redirect?to=URL" a 302 to URL, all else 200.
import http.server, ssl, sys, threading, urllib.parse
class Page(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/redirect":
            to = urllib.parse.parse_qs(url.query)["to"][0]
            self.send_response(302)
            self.send_header("Location", to)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        body = b"<p>hello over tls</p>\n"
        self.send_response(200 if url.path != "/missing" else 404)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
folder = sys.argv[1]
for name in sys.argv[2:]:
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(f"{folder}/{name}.pem", f"{folder}/{name}.key")
    srv = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Page)
    srv.socket = ctx.wrap_socket(srv.socket, server_side=True)
    threading.Thread(target=srv.serve_forever, daemon=True).start()
    print(name, srv.server_address[1], flush=True)
print("ready", flush=True)
threading.Event().wait()
