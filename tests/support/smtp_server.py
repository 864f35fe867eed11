"""aiosmtpd for the tests: messages into a maildir, with the envelope in the
added headers X-MailFrom and X-RcptTo, and every byte read from clients (after
TLS) appended to a capture file. Options make it offer AUTH, offer STARTTLS,
refuse STARTTLS, refuse some recipients, drop the connection in the middle
of a message, store a message and then drop the connection without an answer,
or store it and answer only after a delay; each connection used is counted, and
a connection can be ended by the server after some messages (at the next
RSET, with 421 or without a word). With --pipelining it offers PIPELINING, as
Postfix does; aiosmtpd answers commands sent together one by one, in order."""
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
parser.add_argument('--oauth-issued', help='AUTH XOAUTH2 and OAUTHBEARER offered: tokens issued, as "token user expiry" lines')
parser.add_argument('--pipelining', action='store_true', help='PIPELINING offered in the answer to EHLO')
parser.add_argument('--mechanisms', help='the AUTH mechanisms offered, blank-separated (default: all it has)')
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


def token_valid(mechanism, user, token):
    """Whether the token was issued to the user by the test token endpoint and
    has not expired; the attempt is logged as "MECHANISM user"."""
    with open(args.logins, 'a') as f:
        f.write(mechanism + ' ' + user + '\n')
    try:
        with open(opts.oauth_issued) as f:
            issued = [l.split() for l in f if l.strip()]
    except FileNotFoundError:
        issued = []
    return any(t == token and u == user and float(e) > time.time() for t, u, e in issued)


async def client_message(server, args_):
    """The client's first message: the initial response, else the answer to an
    empty challenge. None when the client cancels."""
    if len(args_) > 1:
        return base64.b64decode(args_[1])
    raw = await server.challenge_auth('', encode_to_b64=False)
    return None if raw is MISSING else raw


class OAuthHandler(Handler):
    async def auth_XOAUTH2(self, server, args_):
        """XOAUTH2: "user=U^Aauth=Bearer T^A^A"."""
        try:
            raw = await client_message(server, args_)
            if raw is None:
                return AuthResult(success=False, handled=True)
            fields = dict(p.split('=', 1) for p in raw.decode().split('\x01') if '=' in p)
        except Exception:
            return AuthResult(success=False)
        user = fields.get('user', '')
        ok = token_valid('XOAUTH2', user, fields.get('auth', '').replace('Bearer ', '', 1))
        return AuthResult(success=ok, handled=False, auth_data=user)

    async def auth_OAUTHBEARER(self, server, args_):
        """OAUTHBEARER (RFC 7628): "n,a=U,^Aauth=Bearer T^A^A". A refused token
        is answered with the reasons as a JSON challenge, which the client
        must answer with a lone ^A, before the failure."""
        try:
            raw = await client_message(server, args_)
            if raw is None:
                return AuthResult(success=False, handled=True)
            gs2, _, rest = raw.decode().partition('\x01')
            fields = dict(p.split('=', 1) for p in rest.split('\x01') if '=' in p)
            authzid = [p[2:] for p in gs2.split(',') if p.startswith('a=')]
            user = authzid[0].replace('=2C', ',').replace('=3D', '=') if authzid else ''
        except Exception:
            return AuthResult(success=False)
        if token_valid('OAUTHBEARER', user, fields.get('auth', '').replace('Bearer ', '', 1)):
            return AuthResult(success=True, handled=False, auth_data=user)
        reasons = b'{"status":"invalid_token","scope":"https://mail.example.test/"}'
        answer = await server.challenge_auth(reasons)
        if answer is not MISSING and answer != b'\x01':
            with open(args.logins, 'a') as f:
                f.write('OAUTHBEARER answered the error with %r\n' % answer)
        return AuthResult(success=False, handled=False)


def authenticator(server, session, envelope, mechanism, auth_data):
    login = auth_data.login.decode('utf-8', 'replace')
    password = auth_data.password.decode('utf-8', 'replace')
    with open(args.logins, 'a') as f:
        f.write(login + ' ' + password + '\n')
    ok = args.auth == login + ':' + password
    return AuthResult(success=ok, handled=False)


class Server(SMTP):
    async def smtp_EHLO(self, hostname):
        if not args.pipelining:
            await super().smtp_EHLO(hostname)
            return
        push = self.push

        async def offering_pipelining(status):
            if status == '250 HELP':
                await push('250-PIPELINING')
            await push(status)

        self.push = offering_pipelining
        try:
            await super().smtp_EHLO(hostname)
        finally:
            del self.push

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
        if args.pipelining:
            # Each read on a line of its own: commands a client sent
            # together arrive in one read.
            with open(args.capture + '.reads', 'ab') as f:
                f.write(data.replace(b'\r\n', b' ') + b'\n')
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
    if args.mechanisms is not None:
        offered = set(args.mechanisms.split())
        kwargs['auth_exclude_mechanism'] = [m for m in ('LOGIN', 'PLAIN', 'XOAUTH2', 'OAUTHBEARER') if m not in offered]
    handler = OAuthHandler if args.oauth_issued else Handler
    return Server(handler(args.maildir), **kwargs)


host, port = args.listen.rsplit(':', 1)
loop = asyncio.new_event_loop()
asyncio.set_event_loop(loop)
server = loop.run_until_complete(loop.create_server(make_server, host, int(port)))
loop.run_forever()
