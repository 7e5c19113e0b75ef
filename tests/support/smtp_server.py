#!/usr/bin/python3
"""The SMTP server of the mail tests, on loopback.

Stores each message received as <folder>/<n>.eml with <n>.json beside it (envelope, whether the
session went through STARTTLS and who logged in). It can refuse the first N messages at the end
of DATA, refuse every recipient, offer STARTTLS with a certificate and require AUTH LOGIN/PLAIN, or accept connections
and never answer. Prints "PRONTO" on stdout once it listens.
"""
import argparse
import asyncio
import json
import logging
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Handler:
    def __init__(self, folder, refuse, refuse_code, refuse_rcpt):
        self.folder = folder
        self.refuse = refuse
        self.refuse_code = refuse_code
        self.refuse_rcpt = refuse_rcpt
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.refuse_rcpt:
            return self.refuse_rcpt
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.refuse > 0:
            self.refuse -= 1
            return f"{self.refuse_code} Mensagem recusada pelo servidor de teste"
        self.count += 1
        base = os.path.join(self.folder, str(self.count))
        with open(base + ".eml.part", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        login = session.auth_data.login.decode() if session.authenticated else None
        with open(base + ".json", "w") as f:
            json.dump({"from": envelope.mail_from, "to": envelope.rcpt_tos,
                       "tls": session.ssl is not None, "login": login}, f)
        # The test waits for the .eml: it appears whole, after its .json.
        os.rename(base + ".eml.part", base + ".eml")
        return "250 OK"


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--folder", required=True)
    p.add_argument("--refuse", type=int, default=0)
    p.add_argument("--refuse-code", type=int, default=451)
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--login")  # user:password required before MAIL
    p.add_argument("--silent", action="store_true")
    p.add_argument("--refuse-rcpt")  # the reply to every RCPT, e.g. "550 5.7.1 Relaying denied"
    a = p.parse_args()
    # A client that refuses the certificate is part of the tests, not news.
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    if a.silent:
        held = []

        def silent(reader, writer):
            held.append(writer)  # kept open, never written to

        server = loop.run_until_complete(
            asyncio.start_server(silent, "127.0.0.1", a.port))
    else:
        handler = Handler(a.folder, a.refuse, a.refuse_code, a.refuse_rcpt)
        kwargs = {}
        if a.cert:
            ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
            ctx.load_cert_chain(a.cert, a.key)
            kwargs["tls_context"] = ctx
        if a.login:
            user, password = a.login.split(":", 1)

            def authenticator(server, session, envelope, mechanism, data):
                ok = (isinstance(data, LoginPassword) and data.login.decode() == user
                      and data.password.decode() == password)
                return AuthResult(success=ok, handled=False, auth_data=data if ok else None)

            kwargs.update(authenticator=authenticator, auth_required=True,
                          auth_require_tls=bool(a.cert))
        server = loop.run_until_complete(loop.create_server(
            lambda: SMTP(handler, hostname="teste.local", **kwargs), "127.0.0.1", a.port))
    print("PRONTO", flush=True)
    try:
        loop.run_until_complete(server.serve_forever())
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
