"""The program's texts as the tests expect them, read from the one place
that holds them, tests/expected_output.h, the class key among them: each
"inline constexpr" constant made of string literals."""
import os
import re

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
CONSTANT = re.compile(r'inline constexpr [\w:]+ (k\w+)(?:\[\])? =\s*((?:"(?:[^"\\]|\\.)*"\s*)+);')
LITERAL = re.compile(r'"((?:[^"\\]|\\.)*)"')
ESCAPES = {"n": "\n", "\\": "\\", '"': '"', "'": "'"}


def _unescape(literal):
    return re.sub(r"\\x([0-9A-F]{2})|\\(.)",
                  lambda m: chr(int(m.group(1), 16)) if m.group(1) else ESCAPES[m.group(2)], literal)


def _constants(relative_path):
    with open(os.path.join(ROOT, relative_path)) as header:
        text = header.read()
    return {name: "".join(_unescape(part) for part in LITERAL.findall(body))
            for name, body in CONSTANT.findall(text)}


_TEXTS = _constants("tests/expected_output.h")
SUCCESS = _TEXTS["kSuccess"]
LISTING_HEAD = _TEXTS["kListingHead"]
LISTING_TAIL = _TEXTS["kListingTail"]
PRESENT = _TEXTS["kPresent"]
NOT_PRESENT = _TEXTS["kNotPresent"]
DRIVER_MISSING = _TEXTS["kDriverMissing"]
OLD_WINDOWS = _TEXTS["kOldWindows"]
NOT_64_BIT = _TEXTS["kNot64Bit"]
THUNK_SERVICE = _TEXTS["kThunkServicePath"]
CLASS_KEY = _TEXTS["kClassKey"]
READ_FAILURE = _TEXTS["kValueFailureFormat"] % ("Read", CLASS_KEY)
SET_FAILURE = _TEXTS["kValueFailureFormat"] % ("Set", CLASS_KEY)
