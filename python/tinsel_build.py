"""The package's build backend: the tinsel folder zipped into a wheel, nothing compiled.

pip calls it from pyproject.toml. Only the standard library, so that pip
needs no network and no setuptools to install the module.
"""

import base64
import hashlib
import os
import tarfile
import zipfile
from pathlib import Path

NAME, VERSION = "tinsel", "1.0.0"
HERE = Path(__file__).resolve().parent
DIST_INFO = f"{NAME}-{VERSION}.dist-info"
METADATA = f"""Metadata-Version: 2.1
Name: {NAME}
Version: {VERSION}
Summary: Play XM modules from Python through libtinsel
License: MIT
Requires-Python: >=3.8
Provides-Extra: numpy
Requires-Dist: numpy; extra == "numpy"
"""
WHEEL = f"""Wheel-Version: 1.0
Generator: {NAME}_build
Root-Is-Purelib: true
Tag: py3-none-any
"""


def _sources():
    for path in sorted((HERE / NAME).rglob("*")):
        if path.is_file() and "__pycache__" not in path.parts:
            yield path.relative_to(HERE).as_posix(), path.read_bytes()


def _record_line(name: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    filename = f"{NAME}-{VERSION}-py3-none-any.whl"
    files = list(_sources()) + [(f"{DIST_INFO}/METADATA", METADATA.encode()), (f"{DIST_INFO}/WHEEL", WHEEL.encode())]
    record = "".join(_record_line(n, d) + "\n" for n, d in files) + f"{DIST_INFO}/RECORD,,\n"
    with zipfile.ZipFile(os.path.join(wheel_directory, filename), "w", zipfile.ZIP_DEFLATED) as wheel:
        for name, data in files + [(f"{DIST_INFO}/RECORD", record.encode())]:
            wheel.writestr(name, data)
    return filename


def build_sdist(sdist_directory, config_settings=None):
    filename = f"{NAME}-{VERSION}.tar.gz"
    with tarfile.open(os.path.join(sdist_directory, filename), "w:gz") as sdist:
        for name in ["pyproject.toml", "tinsel_build.py", NAME]:
            sdist.add(HERE / name, f"{NAME}-{VERSION}/{name}", filter=lambda t: None if "__pycache__" in t.name else t)
    return filename
