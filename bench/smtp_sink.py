"""A loopback SMTP server for the month-end benchmark: accepts every message
and keeps none. It prints the port it listens on, then one line per accepted
message with the monotonic clock's time of its acceptance (the same clock as
the driver's) and its first recipient, flushed at once.

It answers as a real mail server does: it offers PIPELINING, takes the
commands a client sends at once in their order, and writes the answers to
all of them together, as Postfix does. It is a small asyncio protocol rather
than aiosmtpd, whose own work (some 1.6 ms a message) held the benchmark
below what the agent can send; the same server serves every build compared.
Usage: smtp_sink.py"""
import asyncio
import socket
import sys
import time

EHLO = b'250-localhost\r\n250-PIPELINING\r\n250-8BITMIME\r\n250-SMTPUTF8\r\n250 HELP\r\n'
END = b'\r\n.\r\n'
LONGEST_LINE = 4096


class Session(asyncio.Protocol):
    def connection_made(self, transport):
        # Each answer is written at once, as a mail server answers (asyncio
        # sets no TCP_NODELAY on accepted sockets of a plain socket()).
        sock = transport.get_extra_info('socket')
        if sock is not None:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.transport = transport
        self.buffer = bytearray()
        self.in_data = False
        self.data_start = False
        self.sender = None
        self.recipients = []
        self.closing = False
        transport.write(b'220 localhost ESMTP sink\r\n')

    def data_received(self, data):
        if self.closing:
            return
        self.buffer += data
        answers = []
        accepted = []
        while self.buffer and not self.closing:
            if self.in_data:
                if not self.end_of_data(answers, accepted):
                    break
                continue
            end = self.buffer.find(b'\n')
            if end < 0:
                if len(self.buffer) > LONGEST_LINE:
                    answers.append(b'500 5.5.2 Line too long\r\n')
                    self.closing = True
                break
            line = bytes(self.buffer[:end]).rstrip(b'\r')
            del self.buffer[:end + 1]
            answers.append(self.command(line))
        if accepted:
            sys.stdout.write(''.join(accepted))
            sys.stdout.flush()
        if answers:
            self.transport.write(b''.join(answers))
        if self.closing:
            self.transport.close()

    def end_of_data(self, answers, accepted):
        """Whether the data's ending line was found (the message then taken)."""
        if self.data_start and self.buffer.startswith(b'.\r\n'):
            end, skip = 0, 3  # an empty message
        else:
            end = self.buffer.find(END)
            if end < 0:
                if len(self.buffer) >= 3:
                    self.data_start = False
                # Only what may still be the start of the ending is kept.
                if len(self.buffer) > len(END):
                    del self.buffer[:len(self.buffer) - len(END)]
                return False
            skip = len(END)
        del self.buffer[:end + skip]
        accepted.append('%.6f %s\n' % (time.monotonic(), self.recipients[0]))
        answers.append(b'250 2.0.0 OK\r\n')
        self.in_data = False
        self.reset()
        return True

    def reset(self):
        self.sender = None
        self.recipients = []

    def command(self, line):
        verb, _, arg = line.partition(b' ')
        verb = verb.upper()
        if verb == b'EHLO':
            self.reset()
            return EHLO
        if verb == b'HELO':
            self.reset()
            return b'250 localhost\r\n'
        if verb == b'MAIL':
            if self.sender is not None:
                return b'503 5.5.1 Error: nested MAIL command\r\n'
            if not arg.upper().startswith(b'FROM:'):
                return b'501 5.5.4 Syntax: MAIL FROM:<address>\r\n'
            self.sender = arg[5:]
            return b'250 2.1.0 OK\r\n'
        if verb == b'RCPT':
            if self.sender is None:
                return b'503 5.5.1 Error: need MAIL command\r\n'
            if not arg.upper().startswith(b'TO:'):
                return b'501 5.5.4 Syntax: RCPT TO:<address>\r\n'
            address = arg[3:].split(b' ', 1)[0].strip(b'<>').decode('utf-8', 'replace')
            self.recipients.append(address or '-')
            return b'250 2.1.5 OK\r\n'
        if verb == b'DATA':
            if not self.recipients:
                return b'554 5.5.1 Error: no valid recipients\r\n'
            self.in_data = True
            self.data_start = True
            return b'354 End data with <CR><LF>.<CR><LF>\r\n'
        if verb == b'RSET':
            self.reset()
            return b'250 2.0.0 OK\r\n'
        if verb == b'NOOP':
            return b'250 2.0.0 OK\r\n'
        if verb == b'QUIT':
            self.closing = True
            return b'221 2.0.0 Bye\r\n'
        if verb == b'VRFY':
            return b'252 2.0.0 Cannot VRFY user\r\n'
        return b'502 5.5.2 Error: command not recognized\r\n'


def main():
    sock = socket.socket()
    sock.bind(('127.0.0.1', 0))
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(Session, sock=sock))
    sys.stdout.write('%d\n' % sock.getsockname()[1])
    sys.stdout.flush()
    try:
        loop.run_forever()
    finally:
        server.close()


if __name__ == '__main__':
    main()
