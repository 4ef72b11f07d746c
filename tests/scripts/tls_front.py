#!/usr/bin/env python3
"""HTTPS on 127.0.0.1 for the TLS tests, around one test command.

Usage: tls_front.py WORK_DIR -- COMMAND [ARG...]

Makes a test CA and certificates for "localhost" with openssl in WORK_DIR,
serves one HTTPS port per certificate and one plain HTTP port on 127.0.0.1,
runs COMMAND with these variables set and exits with its status:
  QEL_TLS_PORTS     "good=<port>,expired=<port>,wrongname=<port>,untrusted=<port>,
                    plain=<port>"
  QEL_TEST_CA_FILE  the test CA (PEM file), which the Linux stand-in trusts
  QEL_TEST_CA_PEM   the same certificate as text, for a Windows test to add
                    to its Root store

Every port answers any GET with a version file whose "file=" line names the
URL asked for (<scheme>://<Host><target>), whose major number is the port's
own (good 3, expired 4, wrongname 5, untrusted 6, plain 7), minor 1, build 4,
history "Over TLS". /to-http/... and /to-https/... answer 302 to the plain or
the good port's /landed/<scheme>/<Host><target>, whose file names the URL
first asked for, <scheme>://<Host><target>, with the history "Redirected".
"""
import os
import shutil
import socket
import ssl
import subprocess
import sys
import threading

# name: (major number served, signed by the trusted CA, subject name, validity)
CERTIFICATES = {
    "good": (3, True, "localhost", None),
    "expired": (4, True, "localhost", ("20200101000000Z", "20200201000000Z")),
    "wrongname": (5, True, "wrong-name.invalid", None),
    "untrusted": (6, False, "localhost", None),
}

CA_CONFIG = """[ca]
default_ca = test_ca
[test_ca]
dir = {dir}
database = {dir}/index.txt
serial = {dir}/serial
new_certs_dir = {dir}
default_md = sha256
policy = any
copy_extensions = none
x509_extensions = server
unique_subject = no
[any]
commonName = supplied
[server]
basicConstraints = CA:false
keyUsage = digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:{name}
"""


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_ca(work, name):
    ca_dir = os.path.join(work, name)
    os.makedirs(ca_dir)
    open(os.path.join(ca_dir, "index.txt"), "w").close()
    with open(os.path.join(ca_dir, "serial"), "w") as f:
        f.write("1000\n")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256",
            "-keyout", "ca.key", "-out", "ca.pem", "-days", "30",
            "-subj", "/CN=QEL test CA " + name,
            "-addext", "basicConstraints=critical,CA:true",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=ca_dir)
    return ca_dir


def make_certificates(work):
    """Writes <name>.pem (certificate) and server.key; returns the CA's path."""
    trusted = make_ca(work, "trusted")
    untrusted = make_ca(work, "untrusted")
    openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key",
            "-out", "server.csr", "-subj", "/CN=localhost", cwd=work)
    for cert_name, (_, signed_by_trusted, subject, dates) in CERTIFICATES.items():
        ca_dir = trusted if signed_by_trusted else untrusted
        config = os.path.join(work, cert_name + ".cnf")
        with open(config, "w") as f:
            f.write(CA_CONFIG.format(dir=ca_dir, name=subject))
        args = ["ca", "-batch", "-notext", "-config", config, "-cert",
                os.path.join(ca_dir, "ca.pem"), "-keyfile", os.path.join(ca_dir, "ca.key"),
                "-subj", "/CN=" + subject, "-in", "server.csr", "-out", cert_name + ".pem"]
        if dates:
            args += ["-startdate", dates[0], "-enddate", dates[1]]
        else:
            args += ["-days", "30"]
        openssl(*args, cwd=work)
    return os.path.join(trusted, "ca.pem")


def version_file(url, major, history):
    return ("file=" + url + "\r\nmajor=%d\r\nminor=1\r\nbuild=4\r\n"
            "update=https://localhost/setup.exe\r\n%s\r\n" % (major, history)).encode("ascii")


def response(scheme, host, target, major, ports):
    """The status and any headers after "HTTP/1.1 ", and the body."""
    for prefix, landing in (("/to-http/", "http://127.0.0.1:%d" % ports["plain"]),
                            ("/to-https/", "https://localhost:%d" % ports["good"])):
        if target.startswith(prefix):
            location = "%s/landed/%s/%s%s" % (landing, scheme, host, target)
            return b"302 Found\r\nLocation: " + location.encode("ascii"), b""
    url, history = scheme + "://" + host + target, "Over TLS"
    if target.startswith("/landed/"):
        url, history = "%s://%s/%s" % tuple(target[len("/landed/"):].split("/", 2)), "Redirected"
    return b"200 OK\r\nContent-Type: text/plain", version_file(url, major, history)


def serve_one(connection, context, major, ports):
    with connection:
        connection.settimeout(10)
        try:
            with (context.wrap_socket(connection, server_side=True) if context
                  else connection) as peer:
                head = b""
                while b"\r\n\r\n" not in head and len(head) < 16384:
                    chunk = peer.recv(4096)
                    if not chunk:
                        return
                    head += chunk
                lines = head.decode("latin-1").split("\r\n")
                target = lines[0].split(" ")[1]
                host = next((line.split(":", 1)[1].strip() for line in lines[1:]
                             if line.lower().startswith("host:")), "localhost")
                status, body = response("https" if context else "http", host, target, major,
                                        ports)
                peer.sendall(b"HTTP/1.1 " + status + b"\r\nContent-Length: %d\r\n"
                             b"Connection: close\r\n\r\n" % len(body) + body)
        except (OSError, ssl.SSLError, IndexError):
            # A client that refuses the certificate ends the handshake.
            pass


def serve(listener, context, major, ports):
    while True:
        try:
            connection, _ = listener.accept()
        except OSError:
            return
        threading.Thread(target=serve_one, args=(connection, context, major, ports),
                         daemon=True).start()


def main():
    if len(sys.argv) < 4 or sys.argv[2] != "--":
        print(__doc__, file=sys.stderr)
        return 2
    work = os.path.abspath(sys.argv[1])
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    ca_file = make_certificates(work)

    ports = {}  # complete before the command runs, so before any request
    for name, major in [(n, c[0]) for n, c in CERTIFICATES.items()] + [("plain", 7)]:
        context = None
        if name in CERTIFICATES:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(os.path.join(work, name + ".pem"),
                                    os.path.join(work, "server.key"))
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.bind(("127.0.0.1", 0))
        listener.listen(16)
        ports[name] = listener.getsockname()[1]
        threading.Thread(target=serve, args=(listener, context, major, ports),
                         daemon=True).start()

    env = dict(os.environ)
    env["QEL_TLS_PORTS"] = ",".join("%s=%d" % item for item in ports.items())
    env["QEL_TEST_CA_FILE"] = ca_file
    with open(ca_file) as f:
        env["QEL_TEST_CA_PEM"] = f.read()
    return subprocess.run(sys.argv[3:], env=env).returncode


if __name__ == "__main__":
    sys.exit(main())
