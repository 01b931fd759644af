#!/usr/bin/python3
"""An independent reader of an encrypted backup's files, after the public descriptions of the
format (Apple Platform Security, "Keybags for Data Protection"; the iphone-dataprotection
project's keybag.py and aeswrap.py; avibrazil/iOSbackup), not after our code.

usage: decrypt_backup_file.py KEYBAG PASSWORD_FILE STORED_KEY ENCRYPTED OUTPUT
STORED_KEY is the record's key (4-byte little-endian class, wrapped key) as hex."""
import hashlib
import struct
import sys

try:
    from Cryptodome.Cipher import AES
except ImportError:
    from Crypto.Cipher import AES


def tlv_blocks(blob):
    at = 0
    while at + 8 <= len(blob):
        tag = blob[at:at + 4]
        length = struct.unpack(">L", blob[at + 4:at + 8])[0]
        yield tag, blob[at + 8:at + 8 + length]
        at += 8 + length


def parse_keybag(blob):
    attrs, class_keys, current = {}, {}, None
    for tag, value in tlv_blocks(blob):
        if len(value) == 4:
            value = struct.unpack(">L", value)[0]
        if tag == b"UUID" and b"UUID" not in attrs:
            attrs[tag] = value
        elif tag == b"UUID":
            if current:
                class_keys[current[b"CLAS"]] = current
            current = {b"UUID": value}
        elif current is not None and tag in (b"CLAS", b"WRAP", b"WPKY", b"KTYP", b"PBKY"):
            current[tag] = value
        else:
            attrs[tag] = value
    if current:
        class_keys[current[b"CLAS"]] = current
    return attrs, class_keys


def aes_unwrap(kek, wrapped):
    # RFC 3394, section 2.2.2 (index based).
    n = len(wrapped) // 8 - 1
    r = [None] + [wrapped[8 * i:8 * i + 8] for i in range(1, n + 1)]
    a = struct.unpack(">Q", wrapped[:8])[0]
    ecb = AES.new(kek, AES.MODE_ECB)
    for j in range(5, -1, -1):
        for i in range(n, 0, -1):
            b = ecb.decrypt(struct.pack(">Q", a ^ (n * j + i)) + r[i])
            a = struct.unpack(">Q", b[:8])[0]
            r[i] = b[8:]
    if a != 0xA6A6A6A6A6A6A6A6:
        return None
    return b"".join(r[1:])


def main():
    keybag, password_file, stored_hex, encrypted, output = sys.argv[1:6]
    attrs, class_keys = parse_keybag(open(keybag, "rb").read())
    password = open(password_file, "rb").read()
    if b"DPSL" in attrs:
        password = hashlib.pbkdf2_hmac("sha256", password, attrs[b"DPSL"], attrs[b"DPIC"], 32)
    password_key = hashlib.pbkdf2_hmac("sha1", password, attrs[b"SALT"], attrs[b"ITER"], 32)
    stored = bytes.fromhex(stored_hex)
    clas = struct.unpack("<L", stored[:4])[0]
    class_key = aes_unwrap(password_key, class_keys[clas][b"WPKY"])
    if class_key is None:
        sys.exit("wrong password")
    file_key = aes_unwrap(class_key, stored[4:])
    if file_key is None:
        sys.exit("the file key does not unwrap")
    data = AES.new(file_key, AES.MODE_CBC, b"\0" * 16).decrypt(open(encrypted, "rb").read())
    pad = data[-1]
    if pad < 1 or pad > 16 or data[-pad:] != bytes([pad]) * pad:
        sys.exit("bad padding")
    open(output, "wb").write(data[:-pad])


if __name__ == "__main__":
    main()
