"""Reading CAD files in a process of its own, and the parts it sends back.

OCCT reads and transfers a STEP file in two calls that hold Python's global
lock throughout (tens of seconds for a large assembly), so neither the calling
thread nor any other Python thread runs meanwhile. The window therefore runs

    python -m morvik_viewer.reading FILE...

which reads the files as load_all does and writes frames on its standard
output: a stage ("reading", file name), the parts in batches (identifiers and
colours, and the shapes as one binary BREP compound), then "done" or "error".
Decoding a batch of BATCH parts takes a few milliseconds, so the window stays
free to repaint between batches.
"""

import io
import json
import os
import struct
import sys

from OCP.BinTools import BinTools, BinTools_FormatVersion
from OCP.BRep import BRep_Builder
from OCP.TopoDS import TopoDS_Compound, TopoDS_Iterator, TopoDS_Shape

from morvik_viewer.paths import one_line, shown
from morvik_viewer.scene import LoadError, Part, load_all

BATCH = 100
_HEADER = struct.Struct("<II")  # sizes of the JSON head and of the binary body


def encode(head, body=b""):
    """One frame: a JSON-able head and an optional binary body."""
    text = json.dumps(head).encode("utf-8")
    return _HEADER.pack(len(text), len(body)) + text + body


class FrameReader:
    """Cuts frames out of a byte stream that arrives in pieces of any size."""

    def __init__(self):
        self._buffer = bytearray()

    def feed(self, data):
        """Adds data; returns the (head, body) of each frame now complete."""
        self._buffer += data
        frames = []
        while len(self._buffer) >= _HEADER.size:
            head_size, body_size = _HEADER.unpack_from(self._buffer)
            end = _HEADER.size + head_size + body_size
            if len(self._buffer) < end:
                break
            head = json.loads(self._buffer[_HEADER.size:_HEADER.size + head_size].decode("utf-8"))
            frames.append((head, bytes(self._buffer[_HEADER.size + head_size:end])))
            del self._buffer[:end]
        return frames


def pack_parts(parts):
    """A frame holding parts: their identifiers and colours, their shapes in one compound."""
    builder, compound = BRep_Builder(), TopoDS_Compound()
    builder.MakeCompound(compound)
    for part in parts:
        builder.Add(compound, part.shape)
    body = io.BytesIO()
    # The first binary format, named: OCCT 7.8 cannot read back what its own
    # current format writes for parts placed in an assembly (it fails with
    # NCollection_IndexedMap::FindKey), while the first reads the same on
    # every version and as fast.
    first_format = BinTools_FormatVersion.BinTools_FormatVersion_VERSION_1
    BinTools.Write_s(compound, body, False, False, first_format)
    head = {"kind": "parts", "ids": [p.shape_id for p in parts],
            "colors": [list(p.color) for p in parts]}
    return encode(head, body.getvalue())


def unpack_parts(head, body):
    """The Parts of a frame that pack_parts made."""
    compound = TopoDS_Shape()
    BinTools.Read_s(compound, io.BytesIO(body))
    shapes, children = [], TopoDS_Iterator(compound)
    while children.More():
        shapes.append(children.Value())
        children.Next()
    if len(shapes) != len(head["ids"]):
        raise ValueError(f"a batch of {len(head['ids'])} parts held {len(shapes)} shapes")
    return [Part(shape_id, shape, tuple(color))
            for shape_id, shape, color in zip(head["ids"], shapes, head["colors"])]


def main(argv=None):
    paths = sys.argv[1:] if argv is None else argv
    # OCCT writes its reports to standard output: frames get a descriptor of their own.
    channel = os.fdopen(os.dup(1), "wb", buffering=0)
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)
    os.close(devnull)
    try:
        parts = load_all(paths, lambda path: channel.write(encode({"kind": "stage",
                                                                    "file": shown(path)})))
        channel.write(encode({"kind": "count", "count": len(parts)}))
        for start in range(0, len(parts), BATCH):
            channel.write(pack_parts(parts[start:start + BATCH]))
    except LoadError as error:
        channel.write(encode({"kind": "error", "message": str(error)}))
        return 0
    except Exception as error:  # noqa: BLE001 - whatever OCCT raises reaches the user as text
        channel.write(encode({"kind": "error", "message": f"cannot read the files ({one_line(error)})"}))
        return 0
    channel.write(encode({"kind": "done"}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
