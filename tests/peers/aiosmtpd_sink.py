# Debian's aiosmtpd as a mail sink for the tests: each message is kept in the spool folder
# (argv 1) as "msg-N.eml": "RCPT address" lines, a blank line and the message as it came.
# Then: the mode (plain, starttls, tls), the certificate and key, the user and password to ask
# for (none when empty). Prints "listening PORT" once it listens.
import asyncio, os, ssl, sys
from aiosmtpd.smtp import SMTP, AuthResult
out = sys.argv[1]
mode, cert, key, user, password = (sys.argv[2:] + ["plain", "", "", "", ""])[:5]
count = 0
context = None
if mode != "plain":
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
def check(server, session, envelope, mechanism, data):
    ok = data.login == user.encode() and data.password == password.encode()
    return AuthResult(success=ok, handled=False)

class Keep:
    async def handle_DATA(self, server, session, envelope):
        global count
        count += 1
        name = os.path.join(out, "msg-%d" % count)
        with open(name + ".tmp", "wb") as f:
            for r in envelope.rcpt_tos:
                f.write(b"RCPT " + r.encode() + b"\n")
            f.write(b"\n" + envelope.original_content)
        os.rename(name + ".tmp", name + ".eml")
        return "250 OK"
async def main():
    login = dict(authenticator=check, auth_required=True) if user else {}
    if mode == "tls":
        login["auth_require_tls"] = False  # the TLS is the connection's own
    starttls = context if mode == "starttls" else None
    srv = await asyncio.get_running_loop().create_server(
        lambda: SMTP(Keep(), hostname="sink", tls_context=starttls, **login), "127.0.0.1", 0,
        ssl=context if mode == "tls" else None)
    print("listening %d" % srv.sockets[0].getsockname()[1], flush=True)
    await srv.serve_forever()
asyncio.run(main())
