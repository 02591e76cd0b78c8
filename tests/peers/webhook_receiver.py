# A webhook receiver for the tests: every POST is kept as one JSON line {path, headers, body}
# in posts.jsonl of the folder (argv 1); answered by path: /fail 500, /hang nothing for a
# minute, anything else 200. Prints "listening PORT" once it listens.
import http.server, json, os, sys, time
out = os.path.join(sys.argv[1], "posts.jsonl")
class Hook(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with open(out, "a") as f:
            f.write(json.dumps({"path": self.path, "headers": dict(self.headers),
                                "body": body.decode("utf-8", "replace")}) + "\n")
        if self.path.startswith("/hang"):
            time.sleep(60)
        self.send_response(500 if self.path.startswith("/fail") else 200)
        self.send_header("Content-Length", "0")
        self.end_headers()
    def log_message(self, *args):
        pass
srv = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Hook)
srv.daemon_threads = True
print("listening %d" % srv.server_address[1], flush=True)
srv.serve_forever()
