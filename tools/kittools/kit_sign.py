"""Signs a kit medium's EFI images for Secure Boot, with openssl and
sbsigntool (sbsign, sbverify).

Firmware under Secure Boot starts only images signed by a key its db
trusts; make-kit-image --sign KEY --cert CERT signs BiosUpdateSelect.efi
and the medium's shell with the organisation's key. A key protected by a
passphrase works without a terminal: the passphrase comes from the
environment variable KIT_SIGN_PASSPHRASE or from the first line of a file
(--passphrase-file), and openssl decrypts the key into a private temporary
file (mode 0600, in a folder of mode 0700) that sbsign reads and that is
removed when signing is over. The passphrase never goes on a command line.
The key and the certificate are checked against each other before
anything is signed, and every signed image is checked against the
certificate afterwards.
"""

import os
import shutil
import subprocess
import tempfile

PASSPHRASE_ENV = "KIT_SIGN_PASSPHRASE"
_CHILD_PASS_ENV = "KIT_SIGN_PASSIN"


class SignError(Exception):
    """Signing cannot go on; one line naming the file and the reason."""


def _run(command, env=None, what=None):
    try:
        return subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=env)
    except OSError:
        package = "openssl" if command[0] == "openssl" else "sbsigntool"
        raise SignError("cannot %s: %s is missing (Debian package %s)"
                        % (what or "sign", command[0], package))


def _readable(path, what):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as error:
        raise SignError("%s %s cannot be read: %s" % (what, path, error.strerror))


def _is_encrypted(key_bytes):
    return b"ENCRYPTED" in key_bytes[:4096]


def read_passphrase(passphrase_file):
    """The passphrase from --passphrase-file (its first line) or from the
    environment; None when neither gives one."""
    if passphrase_file:
        data = _readable(passphrase_file, "the passphrase file")
        return data.decode("utf-8", "replace").splitlines()[0] if data else ""
    return os.environ.get(PASSPHRASE_ENV)


class Signer:
    """A key and certificate that match, ready to sign. Use as a context
    manager: the decrypted key is removed on leaving."""

    def __init__(self, key, cert, passphrase):
        self.key_path, self.cert_path = key, cert
        self.passphrase = passphrase
        self.folder = None

    def __enter__(self):
        self.folder = tempfile.mkdtemp(prefix="kit-sign-")   # mode 0700
        try:
            self._prepare()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *_):
        if self.folder:
            shutil.rmtree(self.folder, ignore_errors=True)
            self.folder = None

    def _prepare(self):
        key_bytes = _readable(self.key_path, "the signing key")
        _readable(self.cert_path, "the certificate")
        self.cert = os.path.join(self.folder, "cert.pem")
        public_of_cert = None
        for form in ("PEM", "DER"):
            done = _run(["openssl", "x509", "-inform", form, "-in", self.cert_path,
                         "-out", self.cert, "-outform", "PEM"], what="read the certificate")
            if done.returncode == 0:
                public_of_cert = _run(["openssl", "x509", "-in", self.cert, "-noout",
                                       "-pubkey"]).stdout
                break
        if not public_of_cert:
            raise SignError("the certificate %s is no X.509 certificate openssl can read"
                            % self.cert_path)
        encrypted = _is_encrypted(key_bytes)
        if encrypted and self.passphrase is None:
            raise SignError("the signing key %s is protected by a passphrase: give it in %s "
                            "or with --passphrase-file" % (self.key_path, PASSPHRASE_ENV))
        self.key = os.path.join(self.folder, "key.pem")
        env = dict(os.environ)
        env[_CHILD_PASS_ENV] = self.passphrase or ""
        # Created 0600 before openssl writes the decrypted key into it.
        os.close(os.open(self.key, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600))
        done = _run(["openssl", "pkey", "-in", self.key_path, "-passin",
                     "env:" + _CHILD_PASS_ENV, "-out", self.key], env=env,
                    what="read the signing key")
        if done.returncode != 0:
            if encrypted:
                raise SignError("the signing key %s cannot be decrypted: wrong passphrase"
                                % self.key_path)
            raise SignError("the signing key %s is no private key openssl can read"
                            % self.key_path)
        public_of_key = _run(["openssl", "pkey", "-in", self.key, "-pubout"]).stdout
        if public_of_key.strip() != public_of_cert.strip():
            raise SignError("the signing key %s does not match the certificate %s"
                            % (self.key_path, self.cert_path))

    def sign(self, path):
        """Signs the image at `path` in place and checks the signature."""
        signed = path + ".signed"
        done = _run(["sbsign", "--key", self.key, "--cert", self.cert, "--output", signed, path])
        if done.returncode != 0 or not os.path.isfile(signed):
            lines = (done.stderr + done.stdout).decode(errors="replace").strip().splitlines()
            raise SignError("cannot sign %s: %s" % (os.path.basename(path),
                                                    lines[-1] if lines else "sbsign failed"))
        os.replace(signed, path)
        if not self.verifies(path):
            raise SignError("%s does not verify against %s after signing"
                            % (os.path.basename(path), self.cert_path))

    def verifies(self, path):
        return _run(["sbverify", "--cert", self.cert, path]).returncode == 0
