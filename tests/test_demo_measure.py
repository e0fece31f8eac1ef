"""The measure tool end to end: a real xcb window, clicked like a user, against OCCT's own
answers (BRepExtrema_DistShapeShape, BRepGProp) on the very entities picked.

Run as a script (`python test_demo_measure.py [inch FILE]`) this file is the session: it
drives the window and reports what it saw (see sessions.py).
"""

import math
from pathlib import Path

import pytest

from conftest import box, faces
from morvik_viewer.model.units import MILLIMETRES, number, scene_unit
from morvik_viewer.model.up_axis import Y_UP, Z_UP, to_view
from morvik_viewer.tools.base import Scene
from morvik_viewer.tools.measure.measures import EDGE, FACE, Value, amount, describe, label_text, measure
from morvik_viewer.tools.measure.tool import LABEL_BACKGROUND, PICKED_COLOR
from pictures import hue_and_level, near, srgb8
from sessions import click_at, colours_at, drop_files, open_window, report, run_session, run_sessions, settle

# Two boxes 3.5 apart along X and a cylinder, Z-up as the viewer turns them.
GAP = 3.5
RADIUS = 7.5
CORNER = (40.0 + RADIUS * math.cos(-math.pi / 4), 5.0 + RADIUS * math.sin(-math.pi / 4))
LEFT_TOP, RIGHT_TOP = (5.0, 5.0, 10.0), (18.5, 5.0, 10.0)
RIM, WALL = (*CORNER, 10.0), (*CORNER, 5.0)  # a point of the cylinder's top circle; its side
LEFT_FRONT = (5.0, 0.0, 5.0)  # (its +X side hides behind the right box)
# The file in inches: a 1 x 2 x 0.5 inch plate, its top face clicked.
PLATE_INCHES = (1.0, 2.0, 0.5)
PLATE_TOP = (12.7, 25.4, 12.7)


def _run(*args):
    return run_session(__file__, *args, quiet=True)


@pytest.fixture(scope="module")
def measured():
    return _run()


def write_box(path, unit, sides):
    """A STEP file (unit: the writer's name for its length unit) or, without a unit, a BREP
    file holding a box of sides, given in millimetres."""
    from OCP.BRepTools import BRepTools
    from OCP.Interface import Interface_Static
    from OCP.STEPControl import STEPControl_AsIs, STEPControl_Controller, STEPControl_Writer

    solid = box(*sides)
    if unit is None:
        BRepTools.Write_s(solid, str(path))
        return path
    STEPControl_Controller.Init_s()
    Interface_Static.SetCVal_s("write.step.unit", unit)
    try:
        writer = STEPControl_Writer()
        writer.Transfer(solid, STEPControl_AsIs)
        writer.Write(str(path))
    finally:
        Interface_Static.SetCVal_s("write.step.unit", "MM")
    return path


@pytest.fixture(scope="module")
def inches():
    # Written once, by OCP 8's writer (write_box): OCCT 7.8's writes an inch file whose
    # coordinates are still millimetres.
    return _run("inch", str(Path(__file__).parent / "files" / "plate.step"))


def test_two_faces_a_gap_apart_measure_as_brep_extrema_does(measured):
    gap = measured.gap
    assert gap.kinds == ["planar face of left", "planar face of right"]
    assert gap.distance == pytest.approx(gap.extrema, abs=1e-9)
    assert gap.distance == pytest.approx(GAP, abs=1e-9)
    assert gap.angle == pytest.approx(0.0, abs=1e-9)  # both tops face up
    assert "Distance: 3.5 mm" in gap.text and "Angle: 0°" in gap.text
    # Both top faces: 10 + 3.5 + 10 long, 10 deep, flat.
    assert gap.size == pytest.approx([2 * 10.0 + GAP, 10.0, 0.0], abs=1e-9)
    # The tool's own presentations, drawn over the picked faces where they show (the
    # shapes are turned upright) and never registered with the service.
    assert gap.registered == 3 and gap.drawn > 0
    *faces, label = gap.pixels
    for pixel in faces:
        hue, level = hue_and_level(pixel, PICKED_COLOR)
        assert hue < 10 and 0.5 < level < 1.2, (gap.pixels, hue, level)
    # The label sits on the middle of the distance: its dark ground or its white text.
    assert near(label, srgb8(LABEL_BACKGROUND), 12) or min(label) > 200, label


def test_shapes_selected_before_measuring_are_measured_whole(measured):
    selected = measured.selected
    assert selected.kinds == ["solid of left", "solid of right"] and not selected.selection
    assert selected.distance == pytest.approx(GAP, abs=1e-9)
    assert selected.size == pytest.approx([2 * 10.0 + GAP, 10.0, 10.0], abs=1e-9)


def test_a_third_click_starts_anew_and_adjacent_faces_stand_at_right_angles(measured):
    corner = measured.corner
    assert corner.kinds == ["planar face of left", "planar face of left"]
    assert corner.angle == pytest.approx(90.0, abs=1e-9)
    assert corner.distance == pytest.approx(0.0, abs=1e-9)


@pytest.mark.parametrize("case, kind, diameter", [
    ("rim", "circular edge of cylinder", 2 * RADIUS),
    ("wall", "cylindrical face of cylinder", 2 * RADIUS),
])
def test_circles_and_cylinders_give_their_diameter(measured, case, kind, diameter):
    assert measured.cleared == {"entities": 0, "drawn": 0, "text": ""}
    one = measured[case]
    assert one.kinds == [kind]
    assert one.diameter == pytest.approx(diameter, abs=1e-9)
    assert one.radius == pytest.approx(diameter / 2, abs=1e-9)
    assert f"Diameter: {number(diameter)} mm" in one.text
    assert one.label == f"Ø {number(diameter)} mm"
    if kind.endswith("edge"):  # its length as BRepGProp gives it
        assert one.length == pytest.approx(one.gprop, abs=1e-9)
        assert one.gprop == pytest.approx(math.pi * diameter, rel=1e-9)


def test_the_drawing_turns_with_the_shapes_and_odd_values_change_nothing(measured):
    hue, level = hue_and_level(measured.turned[0], PICKED_COLOR)
    assert hue < 10 and level > 0.1, (measured.turned, hue, level)  # lit from aside
    # Modes that are none, a click off the view, units of no use: millimetres, as before.
    assert measured.hostile == {"mode": FACE, "active": True, "entities": 0,
                                   "unit": [["mm", 1.0]]}


def test_escape_leaves_measure_mode_and_clicks_select_again(measured):
    left = measured.left
    assert left.active is False and left.dock_visible is False
    assert left.drawn == 0 and left.handler is None
    assert left.pick == "Selected: left"  # the whole shape, in its own mode again
    assert left.menu == "&Tools" and left.checked is False
    # M comes back to it, with the mode last chosen; Esc again leaves.
    assert measured.again == {"active": True, "mode": "Edge", "after_escape": False}


def test_copy_puts_the_values_on_the_clipboard(measured):
    copied = measured.copied
    assert copied.clipboard == copied.text and copied.text.startswith("Picked: ")
    assert "Diameter: 15 mm" in copied.clipboard


def test_a_file_in_inches_shows_inches(inches):
    assert inches.unit == ["inch", 25.4]
    assert inches.kinds == ["planar face of plate"]
    assert inches.area == pytest.approx(inches.gprop, abs=1e-9)  # mm², as read
    text = inches.text
    assert "Area: 2 inch²" in text, text
    assert "1 × 2 × 0 inch" in text, text
    assert inches.distance_text == "Distance: 0.5 inch"  # top to bottom face


def test_every_length_shown_is_in_the_scenes_one_unit(inches):
    # The section panel speaks inches too, where the measure tool does.
    section = inches.section
    assert section.label == f"Z = {number(section['offset'], INCH)} inch", section
    assert section.offset == pytest.approx(6.35, abs=1e-6)  # half the plate's height
    # A scene of files in several units shows millimetres everywhere; garbled units too.
    assert scene_unit({"a": INCH, "b": INCH}, ["a", "b"]) == INCH
    assert scene_unit({"a": INCH}, ["a", "b"]) == MILLIMETRES
    assert scene_unit({"a": ("inch", -1)}, ["a"]) == scene_unit(None, ["a"]) == MILLIMETRES


def test_a_drop_of_files_of_no_kind_opened_is_told(inches):
    dropped = inches.dropped
    assert dropped.entered and not dropped.loading, dropped
    assert dropped.message.startswith("Not opened, of a kind not supported"), dropped
    assert "notes.txt, model.xyz" in dropped.message, dropped


@pytest.mark.parametrize("written, unit", [
    ("INCH", ("inch", 25.4)), ("FT", ("ft", 304.8)), ("M", ("m", 1000.0)), ("CM", ("cm", 10.0)),
    ("MM", ("mm", 1.0)), (None, ("mm", 1.0)),  # None: a BREP file
])
def test_each_file_sends_its_length_unit_with_its_parts(tmp_path, written, unit):
    from morvik_viewer.cad.parts import load_parts
    from morvik_viewer.model.units import MILLIMETRES
    from morvik_viewer.reader.answers import pack_parts
    from morvik_viewer.reader.protocol import Heard, unpack_parts

    path = write_box(tmp_path / ("box.step" if written else "box.brep"), written, (10, 20, 5))
    (part,) = load_parts(path)
    assert part.unit == unit
    heard = Heard([path])
    heard.feed(pack_parts([part]))
    (batch,) = heard.batches
    assert unpack_parts(batch)[0].unit == unit
    # Frames of files in millimetres say nothing of it.
    assert heard.units == ({} if unit == MILLIMETRES else {part.shape_id: unit})


def test_length_units_a_frame_garbles_are_millimetres():
    from morvik_viewer.model.units import MILLIMETRES, length_unit
    from morvik_viewer.reader.protocol import Heard, frame

    for bad in ("inch", ["inch"], ["inch", -1], ["inch", 0], ["inch", float("nan")],
                ["inch", float("inf")], ["inch", True], [3, 25.4], None, {"inch": 25.4}):
        assert length_unit(bad) == MILLIMETRES, bad
    heard = Heard([])
    heard.feed(frame({"kind": "parts", "ids": ["a", 7, "b"],
                       "units": [["inch", 25.4], ["ft", 304.8], "x"]}))
    heard.feed(frame({"kind": "parts", "ids": "c", "units": 5}))
    heard.feed(frame({"kind": "parts", "ids": ["d"], "units": {"d": ["m", 1000]}}))
    assert heard.units == {"a": ("inch", 25.4), "b": MILLIMETRES}


INCH, METRE = ("inch", 25.4), ("m", 1000.0)


def test_values_read_in_the_unit_given():
    from morvik_viewer.tools.measure.measures import Measurement

    assert [number(x) for x in (1.0, 0.5, -0.0, 1 / 3, 2.5e-5, 1234.56789)] == [
        "1", "0.5", "0", "0.33333", "2.5e-05", "1234.5679"]
    inch = INCH
    assert amount(Value("Distance", 25.4), inch) == "1 inch"
    assert amount(Value("Area", 2 * 25.4 ** 2, 2), inch) == "2 inch²"
    assert amount(Value("Angle", 45.0, 0), inch) == "45°"
    text = describe(Measurement(["vertex of a", "vertex of b"], [Value("Distance", 50.8)],
                                (50.8, 0.0, 25.4)), inch)
    assert text.splitlines() == ["Picked: vertex of a, vertex of b", "Distance: 2 inch",
                                 ("Box of the picked entities (dx × dy × dz, file axes): "
                                 "2 × 0 × 1 inch")]


def test_values_keep_their_digits_in_every_unit():
    # Onshape writes metres: a 4.0386 mm hole is no 0.004 m one.
    assert amount(Value("Diameter", 4.0386), METRE) == "0.0040386 m"
    assert amount(Value("Diameter", 14.199), METRE) == "0.014199 m"
    assert amount(Value("Area", 1234.5678, 2), METRE) == "0.0012345678 m²"
    units = (MILLIMETRES, METRE, INCH, ("µm", 1e-3), ("km", 1e6), ("ft", 304.8), ("mil", 0.0254))
    for unit in units:
        for power in (1, 2, 3):
            for x in (4.0386, 14.199, 1 / 3, 1234.56789, 0.0123456, 98765.4321, 2.5e-5, 7e9):
                text = number(x, unit, power)
                error = abs(float(text) * unit[1] ** power - x)
                # Never coarser than millimetres with three decimals, nor than five digits.
                assert error <= min(0.0005, 0.5e-4 * x), (x, unit, power, text)
                assert len(text) < 24, text


def _zero_length_edge():
    from OCP.BRep import BRep_Builder
    from OCP.BRepBuilderAPI import BRepBuilderAPI_MakeVertex
    from OCP.Geom import Geom_Line
    from OCP.gp import gp_Dir, gp_Pnt
    from OCP.TopAbs import TopAbs_FORWARD, TopAbs_REVERSED
    from OCP.TopoDS import TopoDS_Edge

    # As files hold them: a straight edge from a vertex to itself (BRepBuilderAPI refuses
    # to make one).
    builder, edge = BRep_Builder(), TopoDS_Edge()
    vertex = BRepBuilderAPI_MakeVertex(gp_Pnt(0, 0, 0)).Vertex()
    builder.MakeEdge(edge, Geom_Line(gp_Pnt(0, 0, 0), gp_Dir(1, 0, 0)), 1e-7)
    builder.Add(edge, vertex.Oriented(TopAbs_FORWARD))
    builder.Add(edge, vertex.Oriented(TopAbs_REVERSED))
    builder.Range(edge, 0.0, 0.0)
    return edge


def test_degenerate_geometry_measures_in_plain_words():
    from OCP.BRepBuilderAPI import BRepBuilderAPI_MakeEdge, BRepBuilderAPI_MakeFace
    from OCP.BRepExtrema import BRepExtrema_DistShapeShape
    from OCP.gp import gp_Dir, gp_Pln, gp_Pnt

    # A zero-length edge has no direction: its distance to another edge, and no angle.
    point, other = _zero_length_edge(), BRepBuilderAPI_MakeEdge(gp_Pnt(0, 1, 0),
                                                                gp_Pnt(1, 2, 0)).Edge()
    for pair in ((point, other), (other, point), (point, point)):
        result = measure([("a", pair[0]), ("b", pair[1])])
        assert [v.name for v in result.values] == ["Distance"]
        assert result.values[0].amount == pytest.approx(
            BRepExtrema_DistShapeShape(*pair).Value(), abs=1e-9)
    # An infinite plane has an infinite area and box, said so, and no middle to label.
    plane = BRepBuilderAPI_MakeFace(gp_Pln(gp_Pnt(0, 0, 0), gp_Dir(0, 0, 1))).Face()
    result = measure([("f", plane)])
    assert describe(result, METRE).splitlines()[1:] == [
        "Area: infinite", ("Box of the picked entity (dx × dy × dz, file axes): "
        "infinite × infinite × 0 m")]
    assert label_text(result, METRE) == "infinite" and result.label_at is None


def test_what_is_thinner_than_the_tolerance_measures_0():
    from OCP.BRepBuilderAPI import BRepBuilderAPI_Transform
    from OCP.BRepPrimAPI import BRepPrimAPI_MakeBox
    from OCP.gp import gp_Ax1, gp_Dir, gp_Pnt, gp_Trsf
    from OCP.TopAbs import TopAbs_FACE
    from OCP.TopExp import TopExp_Explorer

    # A box stood on end: its faces' exact boxes are some 1e-14 mm thick, rounding's.
    turn = gp_Trsf()
    turn.SetRotation(gp_Ax1(gp_Pnt(0, 0, 0), gp_Dir(1, 0, 0)), math.pi / 2)
    box = BRepBuilderAPI_Transform(BRepPrimAPI_MakeBox(300, 200, 100).Shape(), turn, True).Shape()
    faces, sides = TopExp_Explorer(box, TopAbs_FACE), []
    while faces.More():
        result = measure([("box", faces.Current())])
        sides += result.size
        assert "e-" not in describe(result, MILLIMETRES), describe(result, MILLIMETRES)
        faces.Next()
    assert sorted({round(side, 9) for side in sides}) == [0, 100, 200, 300]


def test_edges_meeting_at_an_angle_measure_from_where_they_meet():
    from OCP.BRepBuilderAPI import BRepBuilderAPI_MakeEdge
    from OCP.gp import gp_Pnt

    def edge(a, b):
        return BRepBuilderAPI_MakeEdge(gp_Pnt(*a), gp_Pnt(*b)).Edge()

    # 120 degrees at the corner they share, whichever way each edge runs.
    far = (math.cos(math.radians(120)), math.sin(math.radians(120)), 0.0)
    for first in (edge((0, 0, 0), (1, 0, 0)), edge((1, 0, 0), (0, 0, 0))):
        result = measure([("a", first), ("b", edge(far, (0, 0, 0)))])
        assert [v.name for v in result.values] == ["Distance", "Angle"]
        assert result.values[1].amount == pytest.approx(120.0, abs=1e-9)
    # Apart, they are lines: the acute angle between them.
    apart = measure([("a", edge((0, 0, 0), (1, 0, 0))), ("b", edge((0, 1, 1), (-1, 2, 1)))])
    assert apart.values[0].amount == pytest.approx(math.sqrt(2), abs=1e-12)
    assert apart.values[1].amount == pytest.approx(45.0, abs=1e-9)


# --- the session ----------------------------------------------------------------------------


def _parts():
    from OCP.BRepPrimAPI import BRepPrimAPI_MakeCylinder
    from OCP.gp import gp_Ax2, gp_Dir, gp_Pnt

    from morvik_viewer.model.colors import PALETTE
    from morvik_viewer.model.parts import Part

    return [Part("left", box(10.0, 10.0, 10.0), PALETTE[0]),
            Part("right", box(10.0, 10.0, 10.0, at=(10.0 + GAP, 0, 0)), PALETTE[1]),
            Part("cylinder", BRepPrimAPI_MakeCylinder(
                gp_Ax2(gp_Pnt(40.0, 5.0, 0.0), gp_Dir(0, 0, 1)), RADIUS, 10.0).Shape(), PALETTE[2])]


def _click(window, xyz):
    click_at(window, to_view(window.state.up_axis, xyz), settle_ms=30)


def _seen(window):
    """What the tool shows now, with OCCT's own answers on the entities it picked."""
    from OCP.BRepExtrema import BRepExtrema_DistShapeShape
    from OCP.BRepGProp import BRepGProp
    from OCP.GProp import GProp_GProps

    from morvik_viewer.tools.measure.measures import label_text

    tool = window.measure
    values = {v.name.lower(): v.amount for v in tool.measurement.values}
    shapes = [shape for _, shape in tool.entities]
    seen = {"kinds": tool.measurement.picked, "text": tool.text,
            "size": list(tool.measurement.size), "label": label_text(tool.measurement, tool.unit()),
            **values}
    if len(shapes) == 2:
        seen["extrema"] = BRepExtrema_DistShapeShape(*shapes).Value()
    elif shapes:
        props = GProp_GProps()
        edge = shapes[0].ShapeType() == EDGE
        (BRepGProp.LinearProperties_s if edge else BRepGProp.SurfaceProperties_s)(shapes[0], props)
        seen["gprop"] = props.Mass()
    return seen


def _drawn(window):
    """How many presentations the context shows beyond the registered shapes."""
    from conftest import interactive_list

    shown = interactive_list()
    window.service.get_context().DisplayedObjects(shown)
    return shown.Size() - window.service.get_shape_count()


def _window(parts=(), files=()):
    return open_window(parts, (1000, 700), files, focus=True)[1]


def main():
    from PySide6.QtCore import QPoint, Qt
    from PySide6.QtGui import QGuiApplication
    from PySide6.QtTest import QTest

    window = _window(_parts())
    widget, out = window.view_widget, {}
    window.service.select_shapes(["left", "right"])
    QTest.keyClick(widget, Qt.Key_M)
    settle(window.app)
    out["selected"] = {**_seen(window), "selection": widget.selected_shape_ids()}
    _click(window, LEFT_TOP)
    _click(window, RIGHT_TOP)
    out["gap"] = {**_seen(window), "registered": window.service.get_shape_count(),
                  "drawn": _drawn(window)}
    out["gap"]["pixels"] = list(colours_at(window.app, window, {
        name: to_view(window.state.up_axis, xyz) for name, xyz in
        (("left", (2.0, 8.0, 10.0)), ("right", (21.0, 8.0, 10.0)),
         ("label", window.measure.measurement.label_at))}).values())
    _click(window, LEFT_TOP)  # a third click starts anew
    _click(window, LEFT_FRONT)
    out["corner"] = _seen(window)

    window.measure.mode_buttons[EDGE].trigger()
    _click(window, RIM)
    out["rim"] = _seen(window)
    window.measure.copy_action.trigger()
    out["copied"] = {"clipboard": QGuiApplication.clipboard().text(), "text": window.measure.text}
    window.measure.mode_buttons[FACE].trigger()
    QTest.mouseClick(widget, Qt.LeftButton, Qt.NoModifier, QPoint(3, widget.height() // 2))
    settle(window.app)  # nothing there: a fresh start
    out["cleared"] = {"entities": len(window.measure.entities), "drawn": _drawn(window),
                      "text": window.measure.results.toPlainText()}
    _click(window, WALL)
    out["wall"] = _seen(window)
    window.set_up_axis(Y_UP, remember=False)  # the drawing turns with the shapes
    settle(window.app, 200)
    out["turned"] = list(colours_at(window.app, window, {"wall": to_view(Y_UP, WALL)}).values())
    window.set_up_axis(Z_UP, remember=False)
    tool = window.measure
    for hostile in ("x", None, 99, -1, 4.5, [6], float("nan")):
        tool.set_mode(hostile)
    tool.set_active("yes")
    tool.click(-5, 10 ** 9, toggle=True)
    tool.scene_changed(Scene([], [], {"cylinder": "inch", "left": ["ft"], "right": ("m", float("inf"))}))
    out["hostile"] = {"mode": tool.mode, "active": tool.active, "entities": len(tool.entities),
                      "unit": [list(tool.unit())]}

    QTest.keyClick(widget, Qt.Key_Escape)
    settle(window.app)
    state = {"active": tool.active, "dock_visible": tool.dock.isVisible(),
             "drawn": _drawn(window), "handler": widget.click_handler,
             "menu": window.menuBar().actions()[-1].text(), "checked": tool.action.isChecked()}
    _click(window, LEFT_TOP)
    out["left"] = {**state, "pick": window.selection_label.text()}

    tool.set_mode(EDGE)
    QTest.keyClick(widget, Qt.Key_M)
    settle(window.app)
    again = {"active": tool.active,
             "mode": next(a.text() for a in tool.mode_buttons.values() if a.isChecked())}
    QTest.keyClick(widget, Qt.Key_Escape)
    out["again"] = {**again, "after_escape": tool.active}
    window.close()
    return report(out)


def inch(path):
    from PySide6.QtCore import Qt
    from PySide6.QtTest import QTest

    window = _window(files=[path])
    window.view_widget.setFocus()
    QTest.keyClick(window.view_widget, Qt.Key_M)
    settle(window.app)
    _click(window, PLATE_TOP)
    out = {**_seen(window), "unit": list(window.measure.unit())}
    window.measure.pick_shapes([window.measure.entities[0], _bottom(window)])
    out["distance_text"] = window.measure.text.splitlines()[1]
    window.section_action.trigger()
    settle(window.app)
    out["section"] = {"label": window.section.offset_label.text(),
                      "offset": window.section.offset()}
    # A vertex, and no face: no mesh, whatever the name says.
    out["dropped"] = _drop(window, ["notes.txt", "model.xyz"])
    window.close()
    return report(out)


def _drop(window, names):
    """Drops files of those names on the window; what it did."""
    import tempfile

    folder = Path(tempfile.mkdtemp())
    for name in names:
        (folder / name).write_text("v 0 0 0\n")
    entered = drop_files(window, [folder / name for name in names])
    return {"entered": entered, "message": window.statusBar().currentMessage(),
            "loading": window.scenes.load is not None}


def _bottom(window):
    return ("plate", faces(window.service.get_shape_info("plate").ais_shape.Shape())[4])  # -Z


if __name__ == "__main__":
    run_sessions({"inch": inch}, main)
