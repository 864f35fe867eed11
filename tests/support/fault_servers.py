"""Servers that misbehave on purpose, for the crash-safety tests.

proxy --listen HOST:PORT --target PORT --stall PATTERN --times N --mark FILE
    Forwards each TCP connection to 127.0.0.1:TARGET. The first N times the
    client's bytes hold PATTERN, whatever the connection, nothing more is
    forwarded on that connection (the bytes holding it are held back) and a
    line goes to FILE: the connection hangs until the client goes away, and
    the server never sees the rest (an SMTP message without its final dot,
    an IMAP APPEND). After that, everything passes through.
    With --cut-reply PATTERN instead, the server's bytes are watched: the
    first N times they hold PATTERN, they are not forwarded and both sides of
    the connection are closed (a store that dies after storing, before its
    answer reaches the client).

smtp --listen HOST:PORT --maildir DIR [--tempfail-prefix PREFIX] [--tempfail-while FILE] [--busy-prefix PREFIX] [--dsn] [--smtputf8]
    aiosmtpd with the Mailbox handler; recipients that begin with PREFIX, and
    every recipient while FILE exists, are answered 451 (try again later).
    With --dsn, DSN (RFC 3461) is offered and its parameters accepted; each
    stored message gets X-MailOptions and X-RcptOptions headers with them.
    With --smtputf8, SMTPUTF8 (RFC 6531) is offered too.
"""
import argparse
import asyncio
import os

parser = argparse.ArgumentParser()
parser.add_argument('mode', choices=['proxy', 'smtp'])
parser.add_argument('--listen', required=True)
parser.add_argument('--target', type=int)
parser.add_argument('--stall', default='')
parser.add_argument('--times', type=int, default=0)
parser.add_argument('--mark', default='')
parser.add_argument('--maildir')
parser.add_argument('--tempfail-prefix', default='')
parser.add_argument('--tempfail-while', default='')
parser.add_argument('--busy-prefix', default='', help='recipients that begin with it are answered 452')
parser.add_argument('--cut-reply', default='')
parser.add_argument('--dsn', action='store_true')
parser.add_argument('--smtputf8', action='store_true')
args = parser.parse_args()
host, port = args.listen.rsplit(':', 1)

stalls = 0
PATTERN = args.stall.encode().decode('unicode_escape').encode('latin-1')
CUT = args.cut_reply.encode().decode('unicode_escape').encode('latin-1')


async def pump(src, dst, watch):
    global stalls
    tail = b''
    pattern = PATTERN if watch else b''
    try:
        while True:
            data = await src.read(65536)
            if not data:
                break
            if pattern and stalls < args.times and pattern in tail + data:
                stalls += 1
                with open(args.mark, 'a') as f:
                    f.write('stalled\n')
                while await src.read(65536):
                    pass
                break
            if pattern:
                tail = (tail + data)[-len(pattern):]
            dst.write(data)
            await dst.drain()
    except (ConnectionError, OSError):
        pass
    finally:
        dst.close()


async def cut(src, dst, client):
    """Server to client: the reply holding CUT is dropped, with the connection."""
    global stalls
    tail = b''
    try:
        while True:
            data = await src.read(65536)
            if not data:
                break
            if stalls < args.times and CUT in tail + data:
                stalls += 1
                with open(args.mark, 'a') as f:
                    f.write('cut\n')
                client.close()
                break
            tail = (tail + data)[-len(CUT):]
            dst.write(data)
            await dst.drain()
    except (ConnectionError, OSError):
        pass
    finally:
        dst.close()


async def relay(reader, writer):
    try:
        up_reader, up_writer = await asyncio.open_connection('127.0.0.1', args.target)
    except OSError:
        writer.close()
        return
    if CUT:
        await asyncio.gather(pump(reader, up_writer, False), cut(up_reader, writer, up_writer))
    else:
        await asyncio.gather(pump(reader, up_writer, True), pump(up_reader, writer, False))


def smtp_server():
    from aiosmtpd.handlers import Mailbox
    from aiosmtpd.smtp import SMTP

    class Handler(Mailbox):
        async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
            if (args.tempfail_prefix and address.startswith(args.tempfail_prefix)) or (
                    args.tempfail_while and os.path.exists(args.tempfail_while)):
                return '451 4.3.0 Riprovare piu\' tardi'
            if args.busy_prefix and address.startswith(args.busy_prefix):
                return '452 4.3.1 Spazio insufficiente'
            envelope.rcpt_tos.append(address)
            envelope.rcpt_options.extend(rcpt_options)
            return '250 OK'

        async def handle_EHLO(self, server, session, envelope, hostname, responses):
            session.host_name = hostname
            if args.dsn:
                responses.insert(len(responses) - 1, '250-DSN')
            return responses

        def prepare_message(self, session, envelope):
            message = super().prepare_message(session, envelope)
            if not args.dsn:
                return message
            message['X-MailOptions'] = ' '.join(envelope.mail_options)
            message['X-RcptOptions'] = ' '.join(envelope.rcpt_options)
            return message

    class DsnSMTP(SMTP):
        def _getparams(self, params):
            result = super()._getparams(params)
            if result is not None and args.dsn:
                for key in ('RET', 'ENVID', 'NOTIFY', 'ORCPT'):
                    result.pop(key, None)
            return result

    for sub in ('tmp', 'new', 'cur'):
        os.makedirs(os.path.join(args.maildir, sub), exist_ok=True)
    return lambda: DsnSMTP(Handler(args.maildir), enable_SMTPUTF8=args.smtputf8, decode_data=False)


loop = asyncio.new_event_loop()
asyncio.set_event_loop(loop)
if args.mode == 'proxy':
    loop.run_until_complete(asyncio.start_server(relay, host, int(port)))
else:
    loop.run_until_complete(loop.create_server(smtp_server(), host, int(port)))
loop.run_forever()
