"""A Python host through ctypes: the README's recipe, then the checks.

Run in a folder holding invoices.txt, returned.xml and expected.txt (what
returned.xml converts to), with QUORVEL naming the install tree, or
libquorvel.so.1 installed where the loader finds it.
"""
import ctypes
import glob
import os
import sys

if sys.platform == "win32":
    quorvel = ctypes.WinDLL("Quorvel.dll")  # 32-bit Python: the functions are stdcall
elif os.environ.get("QUORVEL"):  # an unpacked tree: its library folder, by path
    quorvel = ctypes.CDLL(glob.glob(os.path.join(os.environ["QUORVEL"], "lib*", "**", "libquorvel.so.1"),
                                    recursive=True)[0])
else:  # installed where the loader looks (the .deb)
    quorvel = ctypes.CDLL("libquorvel.so.1")

Buffer = ctypes.c_char * 256  # QUORVEL_BUFFER_SIZE
quorvel.Quorvel_GetLastError.argtypes = [Buffer]
quorvel.Quorvel_TXT2XML.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32,
                                    ctypes.c_char_p, ctypes.c_char_p]
quorvel.Quorvel_XML2TXT.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int32,
                                    ctypes.POINTER(ctypes.c_int32), Buffer, Buffer]
for function in (quorvel.Quorvel_GetLastError, quorvel.Quorvel_TXT2XML, quorvel.Quorvel_XML2TXT):
    function.restype = ctypes.c_int32


def last_error():
    message = Buffer()
    quorvel.Quorvel_GetLastError(message)
    return message.value.decode("gbk")


qymc = "上海明远电子科技有限公司".encode("gbk")  # texts and paths are bytes
if quorvel.Quorvel_TXT2XML(b"invoices.txt", b"invoices.xml", 100, b"913101157178123456",
                           qymc) != 1:
    sys.exit("txt2xml failed: " + last_error())

rows, nsr, reserved = ctypes.c_int32(), Buffer(), Buffer()
if quorvel.Quorvel_XML2TXT(b"returned.xml", b"returned.txt", 0, ctypes.byref(rows), nsr,
                           reserved) != 1:
    sys.exit("xml2txt failed: " + (last_error() or "a row lacks one of its eleven values"))
print(rows.value, "rows for", nsr.value.decode("gbk"))

# The checks: results, messages, files, and every byte of buffers poisoned
# before each call.
POISON = b"\x5a" * 256
checks, failures = [], []


def check(ok, what):
    checks.append(what)
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def poisoned():
    return Buffer.from_buffer_copy(POISON)


def holding(text):
    """What a poisoned buffer holds after the library wrote `text` into it."""
    return (text + b"\0" + POISON)[:256]


def fetched():
    message = poisoned()
    check(quorvel.Quorvel_GetLastError(message) == 1, "Quorvel_GetLastError returns 1")
    return message.raw


check(fetched() == holding(b""), "no message after a success")

check(quorvel.Quorvel_TXT2XML(b"missing.txt", b"never.xml", 100, b"", b"") == -1,
      "TXT2XML of a missing file fails")
check(fetched() == holding(b"Cannot open file missing.txt"), "the message of a missing input")
check(fetched() == holding(b"Cannot open file missing.txt"), "fetching keeps the message")

long_name = bytes(range(ord("a"), ord("z") + 1)) * 12
quorvel.Quorvel_TXT2XML(long_name, b"never.xml", 100, b"", b"")
check(fetched() == (b"Cannot open file " + long_name)[:255] + b"\0",
      "a long message is cut to 255 bytes and a NUL")

# The document made above lacks jg and rq: a failure without a message, all
# three outputs filled, no file written.
rows, nsr, reserved = ctypes.c_int32(0x5A5A5A5A), poisoned(), poisoned()
check(quorvel.Quorvel_XML2TXT(b"invoices.xml", b"incomplete.txt", 0, ctypes.byref(rows), nsr,
                              reserved) == -1, "XML2TXT of incomplete rows fails")
check(fetched() == holding(b""), "incomplete rows leave no message")
check((rows.value, nsr.raw, reserved.raw) == (4, holding(b"913101157178123456"), holding(b"")),
      "incomplete rows still fill RowsCount, NsrBuffer and ReservedBuffer")

rows, nsr, reserved = ctypes.c_int32(0x5A5A5A5A), poisoned(), poisoned()
check(quorvel.Quorvel_XML2TXT(b"missing.xml", b"never.txt", 0, ctypes.byref(rows), nsr,
                              reserved) == -1, "XML2TXT of a missing file fails")
check(fetched() == holding(b"Cannot open file missing.xml"), "the message of a missing document")
check((rows.value, nsr.raw, reserved.raw) == (0x5A5A5A5A, POISON, POISON),
      "a failure before the header leaves all three outputs untouched")

with open("returned.txt", "rb") as got, open("expected.txt", "rb") as expected:
    check(got.read() == expected.read(), "returned.txt, byte for byte")
for name in ("never.xml", "never.txt", "incomplete.txt"):
    try:
        open(name, "rb").close()
        check(False, name + " was written")
    except FileNotFoundError:
        pass

print(f"ctypes host: {len(checks)} checks, {len(failures)} failed")
sys.exit(1 if failures else 0)
