"""Reader of the XML configuration files (docs/formats.md)."""

import re
from dataclasses import dataclass, field
from typing import List, Optional
import xml.etree.ElementTree as ET
from xml.parsers import expat

import numpy as np

KNOWN_IDS = ("MicArrayLocationFile", "NoiseLocationFile", "ImpulseResponseListFile", "TSPListFile")


class ConfigError(ValueError):
    """A file that is not a readable configuration file."""


@dataclass
class Position:
    direction: np.ndarray            # unit vector, float32 [3]
    distance: Optional[float] = None  # metres

    def cartesian(self):
        """direction x distance (the direction alone when no distance is set)."""
        d = 1.0 if self.distance is None else self.distance
        return self.direction.astype(np.float64) * d


@dataclass
class Mic:
    mic_index: Optional[int] = None
    position: Optional[Position] = None


@dataclass
class File:
    name: Optional[str] = None
    mic_indices: Optional[List[int]] = None


@dataclass
class Source:
    position: Optional[Position] = None
    cut_start: Optional[int] = None
    cut_end: Optional[int] = None
    files: Optional[List[File]] = None
    index: Optional[int] = None  # noise sources only


@dataclass
class ConfigFile:
    """One configuration file; fields absent from the file stay None."""
    id: str
    version: str
    comment: Optional[str] = None
    mics: Optional[List[Mic]] = None
    noise_sources: Optional[List[Source]] = None
    sources: Optional[List[Source]] = None
    num_mic: Optional[int] = None
    num_inner: Optional[int] = None
    synchronous_average: Optional[int] = None
    tsp_offset: Optional[int] = None
    tsp_length: Optional[int] = None
    signal_max: Optional[int] = None
    original_impulse_file: Optional[dict] = None  # {"name": str, "kind": 0 (PCM wave) | 1 (raw float)}
    extra: dict = field(default_factory=dict)

    def mic_positions(self):
        """Cartesian microphone positions in file order, float64 [mic, 3], metres."""
        return np.array([m.position.cartesian() for m in self.mics]).reshape(-1, 3)

    def mic_indices(self):
        return [m.mic_index for m in self.mics]

    def source_positions(self):
        """Cartesian source positions in file order, float64 [source, 3], metres."""
        items = self.sources if self.sources is not None else self.noise_sources
        return np.array([s.position.cartesian() for s in items]).reshape(-1, 3)



# The configuration files' own (camelCase) names stay available as aliases,
# so scripts written against them keep working.
def _add_aliases(cls, names):
    for camel, snake in names.items():
        setattr(cls, camel, property(lambda self, s=snake: getattr(self, s),
                                     lambda self, value, s=snake: setattr(self, s, value)))


_add_aliases(Mic, {"micIndex": "mic_index"})
_add_aliases(File, {"micIndices": "mic_indices"})
_add_aliases(Source, {"cutStart": "cut_start", "cutEnd": "cut_end"})
_add_aliases(ConfigFile, {"noiseSources": "noise_sources", "numMic": "num_mic", "numInner": "num_inner",
                          "synchronousAverage": "synchronous_average", "tspOffset": "tsp_offset",
                          "tspLength": "tsp_length", "signalMax": "signal_max",
                          "originalImpulseFile": "original_impulse_file"})


def _fail(where, elem, reason):
    line = getattr(elem, "sourceline", None)
    raise ConfigError(f"{where}: {reason}" if line is None else f"{where}:{line}: {reason}")


def _unsigned(where, elem):
    text = (elem.text or "").strip()
    digits = text[1:] if text.startswith("+") else text
    if not digits.isdigit() or not digits.isascii() or int(digits) > 4294967295:
        _fail(where, elem, f'bad unsigned number "{elem.text}" in <{elem.tag}>')
    return int(digits)


def _int(where, elem):
    text = (elem.text or "").strip()
    digits = text[1:] if text[:1] in "+-" else text
    value = int(text) if digits.isdigit() and digits.isascii() else None
    if value is None or not -2147483648 <= value <= 2147483647:
        _fail(where, elem, f'bad int number "{elem.text}" in <{elem.tag}>')
    return value


# The numbers the C++ reader takes: decimal or exponent form, nan or inf,
# one leading sign (or a "+" before it); no hexadecimal, no "_" digit
# groups (Python's float() takes those), nothing out of single precision.
_FLOAT_TEXT = re.compile(r"(?:\+(?![+-]))?[+-]?(?:(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?|inf(?:inity)?|nan)\Z",
                         re.ASCII | re.IGNORECASE)


def _float(where, elem, attr):
    text = elem.get(attr)
    if text is None:
        _fail(where, elem, f"expected attribute {attr} in <{elem.tag}>, found none")
    core = text.strip(" \t\n\r")
    reason = None
    if not _FLOAT_TEXT.match(core):
        reason = "not a number"
    else:
        value = float(core)
        with np.errstate(over="ignore"):
            single = np.float32(value)
        word = core.lstrip("+-")[:1].lower() in ("i", "n")
        if not word and (not np.isfinite(single) or (value != 0 and single == 0)):
            reason = "out of range"
    if reason:
        _fail(where, elem, f'bad number "{text}" in attribute {attr} of <{elem.tag}>: {reason}')
    return value


def _position(where, elem):
    direction = np.array([_float(where, elem, a) for a in "xyz"], dtype=np.float32)
    distance = _float(where, elem, "distance") if elem.get("distance") is not None else None
    return Position(direction, None if distance is None else float(np.float32(distance)))


def _items(where, container, tag, version):
    result = []
    for item in container:
        if item.tag != tag:
            _fail(where, item, f"expected <{tag}> in <{container.tag}>, found <{item.tag}>")
        if item.get("version") != version:
            _fail(where, item, f"expected <{tag}> version {version}, found {item.get('version')}")
        result.append(item)
    return result


def _file(where, elem):
    f = File()
    for child in elem:
        if child.tag == "name":
            f.name = child.text or ""
        elif child.tag == "micIndices":
            f.mic_indices = [_unsigned(where, i) for i in child]
        else:
            _fail(where, child, f"unknown element <{child.tag}> in <file>")
    return f


def _source(where, elem):
    s = Source()
    for child in elem:
        if child.tag == "position":
            s.position = _position(where, child)
        elif child.tag == "cutStart":
            s.cut_start = _int(where, child)
        elif child.tag == "cutEnd":
            s.cut_end = _int(where, child)
        elif child.tag == "files":
            s.files = [_file(where, f) for f in _items(where, child, "file", "1")]
        elif child.tag == "index":
            s.index = _unsigned(where, child)
        else:
            _fail(where, child, f"unknown element <{child.tag}> in <{elem.tag}>")
    return s


def _mic(where, elem):
    m = Mic()
    for child in elem:
        if child.tag == "micIndex":
            m.mic_index = _unsigned(where, child)
        elif child.tag == "position":
            m.position = _position(where, child)
        else:
            _fail(where, child, f"unknown element <{child.tag}> in <mic>")
    return m


# Element name -> attribute.
_UNSIGNED_FIELDS = {"numMic": "num_mic", "numInner": "num_inner", "synchronousAverage": "synchronous_average",
                    "tspOffset": "tsp_offset", "tspLength": "tsp_length", "signalMax": "signal_max"}


def _refuse_entities(text, where):
    """Entities declared in a DTD are refused, as the C++ reader refuses
    their references (they could expand one line into gigabytes)."""
    marker = b"<!ENTITY" if isinstance(text, bytes) else "<!ENTITY"
    if marker not in text:
        return
    parser = expat.ParserCreate()

    def declared(name, *_):
        raise ConfigError(f"{where}:{parser.CurrentLineNumber}: entity {name} is declared; entities are not supported")

    parser.EntityDeclHandler = declared
    try:
        parser.Parse(text, True)
    except expat.ExpatError as e:
        raise ConfigError(f"{where}: {e}") from None


def parse_config(text, where="<text>"):
    """Parses configuration XML held in a string; raises ConfigError."""
    _refuse_entities(text, where)
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        raise ConfigError(f"{where}: {e}") from None
    if root.tag != "veskconfig":
        raise ConfigError(f"{where}: expected root element <veskconfig>, found <{root.tag}>")
    file_id, version = root.get("id"), root.get("version")
    if file_id not in KNOWN_IDS:
        raise ConfigError(f"{where}: expected a configuration id, found {file_id}")
    if version != "2.0":
        raise ConfigError(f"{where}: expected version 2.0, found {version}")
    cfg = ConfigFile(id=file_id, version=version)
    for child in root:
        tag = child.tag
        if tag == "comment":
            cfg.comment = child.text or ""
        elif tag in _UNSIGNED_FIELDS:
            setattr(cfg, _UNSIGNED_FIELDS[tag], _unsigned(where, child))
        elif tag == "originalImpulseFile":
            kind = child.get("kind")
            if kind not in ("0", "1"):
                _fail(where, child, f"expected kind 0 or 1 in <originalImpulseFile>, found {kind}")
            cfg.original_impulse_file = {"name": child.text or "", "kind": int(kind)}
        elif tag == "mics":
            cfg.mics = [_mic(where, m) for m in _items(where, child, "mic", "1")]
        elif tag == "noiseSources":
            cfg.noise_sources = [_source(where, s) for s in _items(where, child, "noiseSource", "1")]
        elif tag == "sources":
            cfg.sources = [_source(where, s) for s in _items(where, child, "source", "2")]
        else:
            _fail(where, child, f"unknown element <{tag}> in {file_id}")
    return cfg


MAX_CONFIG_BYTES = 1 << 30  # as the C++ reader: a file that never ends is read only this far


def read_config(path):
    """Reads a configuration file; raises ConfigError naming the file."""
    with open(path, "rb") as f:
        text = f.read(MAX_CONFIG_BYTES + 1)
    if len(text) > MAX_CONFIG_BYTES:
        raise ConfigError(f"{path}: file is larger than 1 GiB")
    return parse_config(text, str(path))
