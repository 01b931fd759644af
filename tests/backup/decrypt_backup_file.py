#!/usr/bin/python3
"""An independent reader of an encrypted backup's files, after the public descriptions of the
format (Apple Platform Security, "Keybags for Data Protection"; the iphone-dataprotection
project's keybag.py and aeswrap.py; avibrazil/iOSbackup), not after our code.

usage: decrypt_backup_file.py KEYBAG PASSWORD_FILE STORED_KEY ENCRYPTED OUTPUT
       decrypt_backup_file.py --backup FOLDER PASSWORD_FILE DOMAIN RELATIVE_PATH OUTPUT
STORED_KEY is the record's key (4-byte little-endian class, wrapped key) as hex. With --backup,
Manifest.db is decrypted with "ManifestKey" and the file's key taken from its MBFile record
("EncryptionKey", an NSMutableData whose "NS.data" holds it)."""
import hashlib
import os
import plistlib
import sqlite3
import struct
import sys
import tempfile

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


def open_keybag(blob, password):
    attrs, class_keys = parse_keybag(blob)
    if b"DPSL" in attrs:
        password = hashlib.pbkdf2_hmac("sha256", password, attrs[b"DPSL"], attrs[b"DPIC"], 32)
    password_key = hashlib.pbkdf2_hmac("sha1", password, attrs[b"SALT"], attrs[b"ITER"], 32)
    keys = {}
    for clas, entry in class_keys.items():
        if entry.get(b"WRAP", 0) & 2:
            key = aes_unwrap(password_key, entry[b"WPKY"])
            if key is None:
                sys.exit("wrong password")
            keys[clas] = key
    return keys


def decrypt(class_keys, stored, data):
    clas = struct.unpack("<L", stored[:4])[0]
    file_key = aes_unwrap(class_keys[clas], stored[4:])
    if file_key is None:
        sys.exit("the file key does not unwrap")
    data = AES.new(file_key, AES.MODE_CBC, b"\0" * 16).decrypt(data)
    pad = data[-1]
    if pad < 1 or pad > 16 or data[-pad:] != bytes([pad]) * pad:
        sys.exit("bad padding")
    return data[:-pad]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def main():
    if sys.argv[1] == "--backup":
        folder, password_file, domain, relative, output = sys.argv[2:7]
        manifest = plistlib.loads(read(os.path.join(folder, "Manifest.plist")))
        class_keys = open_keybag(manifest["BackupKeyBag"], read(password_file))
        db = decrypt(class_keys, manifest["ManifestKey"], read(os.path.join(folder, "Manifest.db")))
        with tempfile.TemporaryDirectory() as scratch:
            path = os.path.join(scratch, "Manifest.db")
            with open(path, "wb") as f:
                f.write(db)
            row = sqlite3.connect(path).execute(
                "SELECT fileID, file FROM Files WHERE domain = ? AND relativePath = ?", (domain, relative)).fetchone()
        if row is None:
            sys.exit("no such file in the backup")
        archive = plistlib.loads(row[1])
        objects = archive["$objects"]
        record = objects[archive["$top"]["root"].data]
        stored = objects[record["EncryptionKey"].data]["NS.data"]
        plain = decrypt(class_keys, stored, read(os.path.join(folder, row[0][:2], row[0])))
    else:
        keybag, password_file, stored_hex, encrypted, output = sys.argv[1:6]
        class_keys = open_keybag(read(keybag), read(password_file))
        plain = decrypt(class_keys, bytes.fromhex(stored_hex), read(encrypted))
    with open(output, "wb") as f:
        f.write(plain)


if __name__ == "__main__":
    main()
