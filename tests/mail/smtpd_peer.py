"""SMTP server for the mail tests, on 127.0.0.1 and a free port.

Prints "PORT <n>" once it listens. Each accepted message is stored as
<dir>/<n>.eml (the bytes as received) and <n>.json: envelope, login, TLS
state and the MIME tree as Python's own parser reads it. Every connection
is counted in <dir>/connections.

--tls none|starttls|implicit; --mechs: the AUTH mechanisms offered (LOGIN,
PLAIN, CRAM-MD5, CRAM-SHA1). The account is --user/--password; a recipient
--reject is refused with 550.
"""

import argparse
import asyncio
import base64
import email
import email.policy
import hashlib
import hmac
import json
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

ALL_MECHS = ["LOGIN", "PLAIN", "CRAM-MD5", "CRAM-SHA1"]


def describe(msg):
    parts = []
    for part in msg.walk():
        item = {
            "content_type": part.get_content_type(),
            "charset": part.get_content_charset(),
            "cte": (part.get("Content-Transfer-Encoding") or "").lower(),
            "filename": part.get_filename(),
            "depth": 0,
        }
        if not part.is_multipart():
            item["payload_b64"] = base64.b64encode(part.get_payload(decode=True) or b"").decode()
        parts.append(item)
    # depth by walking again with a stack
    def depth_walk(p, d, out):
        out.append(d)
        if p.is_multipart():
            for c in p.get_payload():
                depth_walk(c, d + 1, out)
    depths = []
    depth_walk(msg, 0, depths)
    for item, d in zip(parts, depths):
        item["depth"] = d
    return parts


class Handler:
    def __init__(self, args):
        self.args = args
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address == self.args.reject:
            return "550 5.1.1 Mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.args.dir, str(self.count))
        raw = envelope.original_content or envelope.content
        with open(base + ".eml", "wb") as f:
            f.write(raw)
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        tls = session.ssl is not None or server.transport.get_extra_info("ssl_object") is not None
        headers = {}
        for name in set(msg.keys()):
            headers[name] = str(msg[name])
        info = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "login": session.auth_data.login.decode() if session.auth_data else None,
            "tls": tls,
            "helo": session.host_name,
            "headers": headers,
            "parts": describe(msg),
        }
        with open(base + ".json.tmp", "w") as f:
            json.dump(info, f)
        os.rename(base + ".json.tmp", base + ".json")
        return "250 Message accepted"

    def _cram(self, digest):
        async def mech(server, args):
            challenge = "<%s@smtp.test>" % os.urandom(8).hex()
            answer = await server.challenge_auth(challenge)
            if not isinstance(answer, bytes) or b" " not in answer:
                return AuthResult(success=False, handled=False)
            user, mac = answer.rsplit(b" ", 1)
            want = hmac.new(self.args.password.encode(), challenge.encode(), digest).hexdigest().encode()
            ok = user == self.args.user.encode() and hmac.compare_digest(mac, want)
            return AuthResult(success=ok, handled=False, auth_data=LoginPassword(user, b"") if ok else None)
        return mech

    async def auth_CRAM__MD5(self, server, args):
        return await self._cram(hashlib.md5)(server, args)

    async def auth_CRAM__SHA1(self, server, args):
        return await self._cram(hashlib.sha1)(server, args)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--dir", required=True)
    p.add_argument("--tls", default="none", choices=["none", "starttls", "implicit"])
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--mechs", default=",".join(ALL_MECHS))
    p.add_argument("--user", default="velkor")
    p.add_argument("--password", default="p\u00e4ss word")
    p.add_argument("--reject", default="reject@example.com")
    args = p.parse_args()

    handler = Handler(args)
    offered = [m for m in args.mechs.split(",") if m]
    exclude = [m for m in ALL_MECHS if m not in offered]

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == args.user.encode()
              and auth_data.password == args.password.encode())
        return AuthResult(success=ok, handled=False, auth_data=auth_data)

    context = None
    if args.tls != "none":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)

    conn_file = os.path.join(args.dir, "connections")

    def factory():
        with open(conn_file, "a") as f:
            f.write("c\n")
        return SMTP(handler, hostname="smtp.test",
                    tls_context=context if args.tls == "starttls" else None,
                    auth_require_tls=False, auth_exclude_mechanism=exclude,
                    authenticator=authenticator)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(
        factory, host="127.0.0.1", port=0, ssl=context if args.tls == "implicit" else None))
    port = server.sockets[0].getsockname()[1]
    print("PORT %d" % port, flush=True)
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == "__main__":
    main()
