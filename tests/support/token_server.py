"""An OAuth 2.0 token endpoint for the tests (http.server on loopback).

POST /token issues access tokens for the refresh-token grant (the valid
refresh tokens are the lines of STATE/refresh_tokens) and for the
client-credentials grant, to a known client only; every token issued is
appended to STATE/issued as "token user expiry" for the mail servers to
check. POST /introspect answers dovecot's token introspection. Each request's
grant type is appended to STATE/requests. While STATE/padding holds a number
N, a token answer carries N more bytes (an endpoint answering without end)."""
import argparse
import json
import secrets
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, HTTPServer

parser = argparse.ArgumentParser()
parser.add_argument('--listen', required=True)
parser.add_argument('--state', required=True)
parser.add_argument('--user', required=True)
parser.add_argument('--client-id', required=True)
parser.add_argument('--client-secret', required=True)
parser.add_argument('--lifetime', type=float, default=3600, help='seconds a token is really valid')
parser.add_argument('--claimed', type=int, default=3600, help='expires_in told to the client')
parser.add_argument('--rotate', action='store_true', help='a new refresh token with every grant')
parser.add_argument('--cert')
parser.add_argument('--key')
args = parser.parse_args()


def lines(name):
    try:
        with open(args.state + '/' + name) as f:
            return [l.strip() for l in f if l.strip()]
    except FileNotFoundError:
        return []


def valid_token(token):
    for line in lines('issued'):
        t, user, expiry = line.split(' ')
        if t == token and float(expiry) > time.time():
            return user
    return None


class Handler(BaseHTTPRequestHandler):
    def answer(self, code, body):
        data = json.dumps(body).encode()
        self.send_response(code)
        self.send_header('Content-Type', 'application/json')
        self.send_header('Content-Length', str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_POST(self):
        length = int(self.headers.get('Content-Length', 0))
        form = urllib.parse.parse_qs(self.rfile.read(length).decode())
        field = lambda k: form.get(k, [''])[0]
        if self.path == '/introspect':
            user = valid_token(field('token'))
            return self.answer(200, {'active': True, 'username': user} if user else {'active': False})
        grant = field('grant_type')
        with open(args.state + '/requests', 'a') as f:
            f.write(grant + '\n')
        if field('client_id') != args.client_id or field('client_secret') != args.client_secret:
            return self.answer(401, {'error': 'invalid_client'})
        reply = {}
        if grant == 'refresh_token':
            if field('refresh_token') not in lines('refresh_tokens'):
                return self.answer(400, {'error': 'invalid_grant',
                                         'error_description': 'AADSTS70000: refresh token revoked'})
            if args.rotate:
                reply['refresh_token'] = 'rt-' + secrets.token_hex(12)
                with open(args.state + '/refresh_tokens', 'w') as f:
                    f.write(reply['refresh_token'] + '\n')
        elif grant != 'client_credentials':
            return self.answer(400, {'error': 'unsupported_grant_type'})
        token = 'at-' + secrets.token_hex(16)
        with open(args.state + '/issued', 'a') as f:
            f.write('%s %s %f\n' % (token, args.user, time.time() + args.lifetime))
        reply.update({'access_token': token, 'token_type': 'Bearer', 'expires_in': args.claimed})
        padding = lines('padding')
        if padding:
            reply['padding'] = 'x' * int(padding[0])
        try:
            return self.answer(200, reply)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client stopped reading

    def log_message(self, *a):
        pass


host, port = args.listen.rsplit(':', 1)
httpd = HTTPServer((host, int(port)), Handler)
if args.cert:
    import ssl
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    httpd.socket = context.wrap_socket(httpd.socket, server_side=True)
httpd.serve_forever()
