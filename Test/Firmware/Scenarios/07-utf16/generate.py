"""The same configuration twice: as 8-bit text and as UTF-16LE with its BOM."""

TEXT = (
    "; one configuration, two encodings\r\n"
    "[OTHER001]\r\n"
    "0 other\r\n"
    "\r\n"
    "[ABCD1234]\r\n"
    '0 = "wide and narrow"\r\n'
    "1 = value-one   # comment\r\n"
    '2 = "a ; b = c"\r\n'
    "3\tlast\r\n"
    "[ZZZZ0000]\r\n"
    "0 after\r\n"
)


def bytes_tree(directory):
    (directory / "rivari.ini").write_bytes(TEXT.encode("ascii"))


def utf16_tree(directory):
    (directory / "rivari.ini").write_bytes(b"\xff\xfe" + TEXT.encode("utf-16-le"))


GENERATED = {"bytes": bytes_tree, "utf16": utf16_tree}
