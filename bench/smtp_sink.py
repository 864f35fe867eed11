"""A loopback SMTP server for the month-end benchmark: accepts every message
and keeps none. It prints the port it listens on, then one line per accepted
message with the monotonic clock's time of its acceptance (the same clock as
the driver's) and its first recipient, flushed at once.
Usage: smtp_sink.py"""
import asyncio
import socket
import sys
import time

from aiosmtpd.smtp import SMTP


class Server(SMTP):
    def connection_made(self, transport):
        # Each reply line is written at once, as a mail server answers
        # (asyncio sets no TCP_NODELAY on accepted sockets of a plain socket()).
        sock = transport.get_extra_info('socket')
        if sock is not None:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        super().connection_made(transport)


class Sink:
    async def handle_DATA(self, server, session, envelope):
        sys.stdout.write('%.6f %s\n' % (time.monotonic(), envelope.rcpt_tos[0] if envelope.rcpt_tos else '-'))
        sys.stdout.flush()
        return '250 OK'


def main():
    sock = socket.socket()
    sock.bind(('127.0.0.1', 0))
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    # Messages of 200 MB are no business of this benchmark; invoices are small.
    server = loop.run_until_complete(
        loop.create_server(lambda: Server(Sink(), hostname='localhost', data_size_limit=None,
                                     enable_SMTPUTF8=True), sock=sock))
    sys.stdout.write('%d\n' % sock.getsockname()[1])
    sys.stdout.flush()
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == '__main__':
    main()
