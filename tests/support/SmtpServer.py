"""An SMTP server on 127.0.0.1 for the e-mail tests: prints its port, then appends each message
it takes to FILE as one JSON line, decoded by Python's own e-mail parser (subject, content type,
each part's text), with the envelope and the login used. --refuse-rcpt answers every recipient
with 550; --login USER:PASSWORD is the only login it takes. Exits 3 without aiosmtpd."""
import argparse
import asyncio
import email
import email.policy
import json
import sys

try:
    from aiosmtpd.smtp import SMTP, AuthResult
except ImportError:
    sys.exit(3)

parser = argparse.ArgumentParser()
parser.add_argument("file")
parser.add_argument("--refuse-rcpt", action="store_true")
parser.add_argument("--login")
options = parser.parse_args()


class Handler:
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if options.refuse_rcpt:
            return "550 5.1.1 No such user"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        message = email.message_from_bytes(envelope.original_content, policy=email.policy.default)
        parts = {part.get_content_type(): part.get_content() for part in message.walk() if not part.is_multipart()}
        login = getattr(session, "login_used", None)
        with open(options.file, "a", encoding="utf-8") as out:
            out.write(json.dumps({"subject": message["subject"], "contentType": message.get_content_type(),
                                  "from": envelope.mail_from, "to": envelope.rcpt_tos, "login": login,
                                  "parts": parts, "raw": envelope.original_content.decode("ascii")}) + "\n")
        return "250 OK"


def authenticate(server, session, envelope, mechanism, auth_data):
    expected = options.login.split(":", 1) if options.login else None
    given = [auth_data.login.decode(), auth_data.password.decode()]
    if expected == given:
        session.login_used = given[0]
    return AuthResult(success=expected == given, handled=False)


async def main():
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: SMTP(Handler(), hostname="test.local", authenticator=authenticate, auth_require_tls=False),
        "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


asyncio.run(main())
