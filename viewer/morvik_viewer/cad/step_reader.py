"""STEP files through OCCT's document layer: every part with its name, colours and place."""

from dataclasses import dataclass
from pathlib import PurePath

from OCP.APIHeaderSection import APIHeaderSection_MakeHeader
from OCP.IFSelect import IFSelect_RetDone
from OCP.STEPCAFControl import STEPCAFControl_Reader
from OCP.TCollection import TCollection_ExtendedString
from OCP.TDocStd import TDocStd_Document
from OCP.XCAFApp import XCAFApp_Application

from morvik_viewer.cad.step_labels import NameSequence
from morvik_viewer.cad.step_walk import StepError, _Walk
from morvik_viewer.model.file_kinds import unreadable
from morvik_viewer.model.paths import one_line
from morvik_viewer.model.units import MILLIMETRES

# Length units as STEP files name them (SI ones as OCCT spells them, the others as
# exporters write them): the short name shown, and millimetres in one unit. OCCT
# converts every file to millimetres; the viewer shows lengths in the file's own unit.
LENGTH_UNITS = {
    "millimetre": ("mm", 1.0), "millimeter": ("mm", 1.0), "mm": ("mm", 1.0),
    "centimetre": ("cm", 10.0), "centimeter": ("cm", 10.0), "cm": ("cm", 10.0),
    "decimetre": ("dm", 100.0), "decimeter": ("dm", 100.0),
    "metre": ("m", 1000.0), "meter": ("m", 1000.0), "m": ("m", 1000.0),
    "kilometre": ("km", 1e6), "kilometer": ("km", 1e6),
    "micrometre": ("µm", 1e-3), "micrometer": ("µm", 1e-3), "micron": ("µm", 1e-3),
    "nanometre": ("nm", 1e-6), "nanometer": ("nm", 1e-6),
    "inch": ("inch", 25.4), "in": ("inch", 25.4), "foot": ("ft", 304.8), "feet": ("ft", 304.8),
    "ft": ("ft", 304.8), "yard": ("yd", 914.4), "mile": ("mi", 1609344.0),
    "mil": ("mil", 0.0254), "thou": ("mil", 0.0254),
}


@dataclass
class Header:
    """What a STEP file's header says of where it comes from (FILE_NAME)."""

    name: str = ""  # the file's name when it was written
    originating_system: str = ""
    preprocessor_version: str = ""
    # Of a file of another kind (see cad.formats): the up axis its format defines, and
    # the format's name.
    up: str | None = None
    kind: str = "STEP"

    def system(self):
        """The authoring system in one line, as the header names it."""
        return " / ".join(text for text in (self.originating_system,
                                            self.preprocessor_version) if text)


def read_step(path, nodes=None, unit=None, header=None):
    """The parts of the STEP file at path (a str OCCT can open), in the file's order.

    A part's name is its instance's, else (when the instance places a
    one-part assembly, as EDA exports wrap each component) the name of the
    instance that places that assembly, else its product's; names that say
    nothing (see meaningful_name) do not count. A part left without a name
    opens into its top-level solids, each keeping its own colours.

    A part's colour is its instance's, else its product's, else the nearest
    enclosing instance's or assembly's. Its sub-colours are its product's
    coloured solids, shells and faces.

    A root named after the file and a number ("board 1" in board.step, as
    EDA exports name the top assembly) is called after the file.

    nodes, when given, is a list that takes the tree's assemblies and leaves
    (Node), in the same order; unit, when given, a list that takes the file's
    length unit (see length_unit); header, when given, a list that takes its
    Header.
    """
    heard = []
    walk = _Walk(open_document(path, unit, heard), nodes)
    # The name the header gives may be a Windows path.
    written = PurePath(heard[0].name.replace("\\", "/")).stem
    walk.stems = {PurePath(path).stem.lower(), written.lower()} - {""}
    if header is not None:
        header += heard
    walk.free_shapes()
    if not walk.parts:
        raise StepError("the STEP file holds no shape")
    return walk.parts


def open_document(path, unit=None, header=None):
    """The XCAF document of the STEP file at path; raises StepError. unit, when given,
    is a list that takes the file's length unit (see length_unit); header, when given,
    one that takes its Header (see read_header)."""
    document = TDocStd_Document(TCollection_ExtendedString("MDTV-XCAF"))
    XCAFApp_Application.GetApplication_s().InitDocument(document)
    reader = STEPCAFControl_Reader()
    reader.SetNameMode(True)
    reader.SetColorMode(True)
    reader.SetSHUOMode(True)  # styles set on one usage of a nested instance
    try:
        status = reader.ReadFile(path)
    except Exception as error:  # OCCT errors derive from Exception only
        raise StepError(f"cannot read STEP data ({one_line(error)})") from error
    if status != IFSelect_RetDone:
        raise StepError(unreadable(path, "STEP"))
    if unit is not None:
        unit.append(length_unit(reader))
    if header is not None:
        header.append(read_header(reader))
    try:
        reader.Transfer(document)
    except Exception as error:
        raise StepError(f"cannot read STEP data ({one_line(error)})") from error
    return document


def length_unit(reader):
    """(short name, millimetres in one) of the length unit a STEP file (read, not yet
    transferred, by reader) gives its shapes; millimetres when it names none, several
    or one unknown here, as OCCT's shapes then come (in millimetres) and are shown."""
    names = NameSequence(), NameSequence(), NameSequence()
    try:
        reader.ChangeReader().FileUnits(*names)
        lengths = {names[0].Value(i).ToCString().strip().lower()
                   for i in range(1, names[0].Length() + 1)}
    except Exception:  # noqa: BLE001 - a file without units shows millimetres
        lengths = set()
    found = {LENGTH_UNITS.get(name) for name in lengths}
    return found.pop() if len(found) == 1 and None not in found else MILLIMETRES


def read_header(reader):
    """The Header of the STEP file reader has read (not transferred yet); empty fields
    where the file's header says nothing or cannot be read."""
    try:
        made = APIHeaderSection_MakeHeader(reader.ChangeReader().StepModel())
        if not made.IsDone():
            return Header()
        return Header(*(one_line(field().ToCString()) if field() is not None else ""
                        for field in (made.Name, made.OriginatingSystem,
                                      made.PreprocessorVersion)))
    except Exception:  # noqa: BLE001 - a header OCCT cannot give says nothing
        return Header()
