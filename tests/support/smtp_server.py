"""aiosmtpd for the tests: messages into a maildir, with the envelope in the
added headers X-MailFrom and X-RcptTo, and every byte read from clients (after
TLS) appended to a capture file. Options make it offer AUTH, offer STARTTLS,
refuse STARTTLS, refuse some recipients, drop the connection in the middle
of a message, store a message and then drop the connection without an answer,
or store it and answer only after a delay; each connection used is counted, and
a connection can be ended by the server after some messages (at the next
RSET, with 421 or without a word)."""
import argparse
import asyncio
import base64
import ssl
import time

from aiosmtpd.handlers import Mailbox
from aiosmtpd.smtp import MISSING, SMTP, AuthResult

parser = argparse.ArgumentParser()
parser.add_argument('--listen', required=True)
parser.add_argument('--maildir', required=True)
parser.add_argument('--capture', required=True)
parser.add_argument('--logins', required=True)
parser.add_argument('--auth', help='USER:PASSWORD accepted by AUTH')
parser.add_argument('--cert')
parser.add_argument('--key')
parser.add_argument('--refuse-starttls', action='store_true')
parser.add_argument('--reject-prefix', default='')
parser.add_argument('--drop-in-data', action='store_true')
parser.add_argument('--drop-after-data', action='store_true')
parser.add_argument('--data-reply-delay', type=float, default=0)
parser.add_argument('--end-after', type=int, default=0, help='messages after which a connection is ended')
parser.add_argument('--end-silently', action='store_true', help='ended without the 421 answer')
parser.add_argument('--oauth-issued', help='AUTH XOAUTH2 offered: tokens issued, as "token user expiry" lines')
args = parser.parse_args()
opts = args


class Handler(Mailbox):
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if args.reject_prefix and address.startswith(args.reject_prefix):
            return '550 5.1.1 Unknown user'
        envelope.rcpt_tos.append(address)
        return '250 OK'

    async def handle_DATA(self, server, session, envelope):
        answer = await super().handle_DATA(server, session, envelope)
        server.messages_here = getattr(server, 'messages_here', 0) + 1
        if args.drop_after_data:
            server.transport.abort()
        elif args.data_reply_delay:
            await asyncio.sleep(args.data_reply_delay)
        return answer


class OAuthHandler(Handler):
    async def auth_XOAUTH2(self, server, args_):
        """XOAUTH2: "user=U^Aauth=Bearer T^A^A", accepted when T was issued to U
        by the test token endpoint and has not expired."""
        try:
            if len(args_) > 1:
                raw = base64.b64decode(args_[1])
            else:
                raw = await server.challenge_auth('', encode_to_b64=False)
                if raw is MISSING:
                    return AuthResult(success=False, handled=True)
            fields = dict(p.split('=', 1) for p in raw.decode().split('\x01') if '=' in p)
        except Exception:
            return AuthResult(success=False)
        user = fields.get('user', '')
        token = fields.get('auth', '').replace('Bearer ', '', 1)
        with open(args.logins, 'a') as f:
            f.write('XOAUTH2 ' + user + '\n')
        try:
            with open(opts.oauth_issued) as f:
                issued = [l.split() for l in f if l.strip()]
        except FileNotFoundError:
            issued = []
        ok = any(t == token and u == user and float(e) > time.time() for t, u, e in issued)
        return AuthResult(success=ok, handled=False, auth_data=user)


def authenticator(server, session, envelope, mechanism, auth_data):
    login = auth_data.login.decode('utf-8', 'replace')
    password = auth_data.password.decode('utf-8', 'replace')
    with open(args.logins, 'a') as f:
        f.write(login + ' ' + password + '\n')
    ok = args.auth == login + ':' + password
    return AuthResult(success=ok, handled=False)


class Server(SMTP):
    async def smtp_RSET(self, arg):
        if args.end_after and getattr(self, 'messages_here', 0) >= args.end_after:
            if not args.end_silently:
                await self.push('421 4.4.2 closing connection')
            self.transport.close()
            return
        await super().smtp_RSET(arg)

    def data_received(self, data):
        # A connection counts once it says something (a port probe does not).
        if not getattr(self, 'counted', False):
            self.counted = True
            with open(args.capture + '.connections', 'a') as f:
                f.write('connection\n')
        with open(args.capture, 'ab') as f:
            f.write(data)
        super().data_received(data)

    async def smtp_STARTTLS(self, arg):
        if args.refuse_starttls:
            await self.push('503 5.5.1 STARTTLS not available')
            return
        await super().smtp_STARTTLS(arg)

    async def smtp_DATA(self, arg):
        if not args.drop_in_data:
            await super().smtp_DATA(arg)
            return
        await self.push('354 End data with <CR><LF>.<CR><LF>')
        await self._reader.readline()
        self.transport.close()


def make_server():
    kwargs = {}
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
        kwargs['tls_context'] = context
    if args.auth or args.oauth_issued:
        kwargs['authenticator'] = authenticator
        kwargs['auth_require_tls'] = bool(args.cert)
    handler = OAuthHandler if args.oauth_issued else Handler
    return Server(handler(args.maildir), **kwargs)


host, port = args.listen.rsplit(':', 1)
loop = asyncio.new_event_loop()
asyncio.set_event_loop(loop)
server = loop.run_until_complete(loop.create_server(make_server, host, int(port)))
loop.run_forever()
