#!/usr/bin/python3
"""A LIST-only FTP server for Velkor's tests, with faults on request.

Binds 127.0.0.1 (or --address, e.g. ::1) on a free port, prints that port on stdout and serves until
killed. The server knows neither MLSD/MLST nor MFMT, so clients must fall
back to LIST and MDTM. Exits with 77 when pyftpdlib (or pyOpenSSL for TLS)
is missing, so the tests can skip.
"""
import argparse
import logging
import socket
import struct
import sys

try:
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.ioloop import RetryError
    from pyftpdlib.servers import FTPServer
except ImportError as err:
    print("pyftpdlib missing: %s" % err, file=sys.stderr)
    sys.exit(77)


def parse_args():
    p = argparse.ArgumentParser()
    p.add_argument("root")
    p.add_argument("user")
    p.add_argument("password")
    p.add_argument("port", type=int)
    p.add_argument("--address", default="127.0.0.1", help="the address to listen on")
    p.add_argument("--tls", choices=("none", "explicit", "implicit"), default="none")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--drop-after", type=int, default=0,
                   help="drop both connections after this many bytes of a file transfer")
    p.add_argument("--drop-transfers", type=int, default=1,
                   help="how many file transfers to drop")
    p.add_argument("--stor-reply", default="",
                   help="answer every STOR/APPE with this reply")
    p.add_argument("--stall-greeting", action="store_true")
    p.add_argument("--final-reply", default="",
                   help="after the data of a file transfer, answer with this reply")
    p.add_argument("--final-replies", type=int, default=1,
                   help="how many file transfers end with --final-reply")
    p.add_argument("--drop-command", default="",
                   help="reset the control connection when a command line starting so arrives")
    p.add_argument("--drop-skip", type=int, default=0,
                   help="how many such commands pass before the one that is dropped")
    p.add_argument("--mkd-reply", default="",
                   help="answer a successful MKD with this reply ({path}: the quoted path)")
    p.add_argument("--refuse", action="append", default=[],
                   help="PREFIX=REPLY: answer every command line starting with PREFIX with REPLY")
    return p.parse_args()


def abort(channel):
    """Closes a channel with a reset and without TLS close_notify."""
    channel._error = True  # SSLConnection.close then skips the TLS shutdown
    try:
        channel.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except (OSError, AttributeError):
        pass


def make_dtp(base, drop_after, drop_transfers):
    """A data channel that breaks off the first file transfers (STOR, APPE,
    RETR; not listings) after drop_after bytes."""
    dropped = [0]

    class DroppingDTP(base):
        def _left(self):
            # Only file transfers carry a file object; listings do not.
            if self.file_obj is None or dropped[0] >= drop_transfers:
                return None
            return drop_after - self.get_transmitted_bytes()

        def _drop(self):
            dropped[0] += 1
            self.log("dropping the connection after %d bytes (fault %d of %d)"
                     % (self.get_transmitted_bytes(), dropped[0], drop_transfers))
            if self.file_obj is not None and not self.file_obj.closed:
                self.file_obj.flush()
            ctrl = self.cmd_channel
            abort(self)
            abort(ctrl)
            ctrl.close()  # closes this data channel too

        def use_sendfile(self):
            return False  # send() must see every byte

        def send(self, data):
            left = self._left()
            if left is not None:
                data = bytes(data)[:max(left, 0)]
            sent = super().send(data)
            if self._left() is not None and self._left() <= 0:
                self._drop()
            return sent

        def recv(self, buffer_size):
            # The data channel's read handler cannot be overridden (it is
            # bound as the event handler), so reads are capped here.
            left = self._left()
            if left is not None and left <= 0:
                self._drop()
                raise RetryError  # the read handler ignores it
            if left is not None:
                buffer_size = min(buffer_size, left)
            return super().recv(buffer_size)

    return DroppingDTP


def make_final_reply_dtp(base, reply, count):
    """A data channel that ends the first count file transfers (STOR, APPE,
    RETR; not listings) with reply instead of 226, after all their data."""
    replaced = [0]

    class FinalReplyDTP(base):
        def close(self):
            if (not self._closed and self.file_obj is not None and self.transfer_finished
                    and self._resp and replaced[0] < count):
                replaced[0] += 1
                self._resp = (reply, self._resp[1])
            super().close()

    return FinalReplyDTP


def make_handler(args):
    if args.tls == "none":
        base = FTPHandler
    else:
        try:
            from pyftpdlib.handlers import TLS_FTPHandler
        except ImportError as err:
            print("pyftpdlib without TLS support: %s" % err, file=sys.stderr)
            sys.exit(77)
        base = TLS_FTPHandler

    commands_seen = [0]  # lines matching --drop-command, over all sessions

    class Handler(base):
        proto_cmds = {k: v for k, v in base.proto_cmds.items()
                      if k not in ("MLSD", "MLST", "MFMT")}

        def pre_process_command(self, line, cmd, arg):
            for rule in args.refuse:
                prefix, reply = rule.split("=", 1)
                if line.startswith(prefix):
                    self.respond(reply)
                    return None
            if args.drop_command and line.startswith(args.drop_command):
                commands_seen[0] += 1
                if commands_seen[0] == args.drop_skip + 1:
                    self.log("dropping the connection at %r" % line)
                    abort(self)
                    self.close()
                    return None
            return super().pre_process_command(line, cmd, arg)

        def ftp_MKD(self, path):
            if not args.mkd_reply:
                return super().ftp_MKD(path)
            line = self.fs.fs2ftp(path)
            try:
                self.run_as_current_user(self.fs.mkdir, path)
            except OSError as err:
                self.respond("550 %s." % err.strerror)
                return None
            self.respond(args.mkd_reply.replace("{path}", line.replace('"', '""')))
            return path

        def handle(self):
            if args.stall_greeting:
                return  # keep the connection open, say nothing
            if args.tls == "implicit":
                # TLS from the first byte; the greeting waits in the
                # output buffer until the handshake is done.
                self.secure_connection(self.ssl_context)
            super().handle()

        def ftp_STOR(self, file, mode="w"):  # APPE comes here too
            if args.stor_reply:
                self.respond(args.stor_reply)
                return None
            return super().ftp_STOR(file, mode)

    if args.tls != "none":
        Handler.certfile = args.cert
        Handler.keyfile = args.key
        Handler.tls_control_required = False
    if args.stall_greeting:
        Handler.timeout = None
    if args.drop_after > 0:
        Handler.dtp_handler = make_dtp(Handler.dtp_handler, args.drop_after, args.drop_transfers)
    if args.final_reply:
        Handler.dtp_handler = make_final_reply_dtp(Handler.dtp_handler, args.final_reply,
                                                   args.final_replies)
    return Handler


def main():
    args = parse_args()
    logging.basicConfig(stream=sys.stderr, level=logging.DEBUG,
                        format="%(asctime)s %(levelname)s %(message)s")
    # Commands and replies, without the library's internal tracing.
    for h in logging.getLogger().handlers:
        h.addFilter(lambda record: not record.getMessage().startswith("[debug]"))
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    handler = make_handler(args)
    handler.authorizer = authorizer
    handler.passive_ports = None
    server = FTPServer((args.address, args.port), handler)
    print(server.address[1], flush=True)
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
