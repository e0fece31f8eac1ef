"""Inspection on a real scene: sub-shape picking, the section plane, the view cube,
fitting to the selection and isolation."""

import json

import pytest
from OCP.AIS import AIS_ViewCube
from OCP.TopAbs import TopAbs_EDGE, TopAbs_FACE, TopAbs_SOLID, TopAbs_VERTEX

from conftest import faces, interactive_list
from morvik.enums import DisplayMode, ViewDirection


def two_boxes(service, make_box):
    """Unit boxes "a" at the origin and "b" three units along +X, seen from the front."""
    service.display_shapes([(make_box(), "a"), (make_box(at=(3.0, 0.0, 0.0)), "b")])
    service.set_projection(ViewDirection.FRONT)
    service.fit_all()
    return {shape_id: info.ais_shape.Shape() for shape_id, info in service.get_all_shapes().items()}


def at(scene, x, y=0.5, z=0.5):
    """The device pixel a model point projects to."""
    return scene.view.Convert(x, y, z)


def cubes(context):
    shown = interactive_list()
    context.DisplayedObjects(shown)
    return [o for o in shown if isinstance(o, AIS_ViewCube)]


def test_selection_mode_picks_sub_shapes_of_shapes_shown_now_later_and_again(
        service, scene, make_box, errors):
    shapes = two_boxes(service, make_box)
    assert service.pick_detail(*at(scene, 0.5))[1].IsSame(shapes["a"])  # whole shapes first

    service.set_selection_mode(TopAbs_FACE)
    shape_id, face = service.pick_detail(*at(scene, 0.5))
    assert shape_id == "a" and [f.IsSame(face) for f in faces(shapes["a"])].count(True) == 1
    service.display_shape(make_box(at=(6.0, 0.0, 0.0)), "c")  # shown after the mode was set
    service.fit_all()
    assert service.pick_detail(*at(scene, 6.5))[1].ShapeType() == TopAbs_FACE
    # Back on screen after hiding, isolation, a display-mode switch and an erase of all.
    service.set_shape_visibility("a", False)
    service.set_shape_visibility("a", True)
    service.isolate_shapes(["b"])
    service.show_all_shapes()
    service.set_display_mode(DisplayMode.WIREFRAME)
    service.set_display_mode(DisplayMode.SHADED)
    for shape_id, x in (("a", 0.5), ("b", 3.5), ("c", 6.5)):
        assert service.pick_detail(*at(scene, x)) [0] == shape_id
        assert service.pick_detail(*at(scene, x))[1].ShapeType() == TopAbs_FACE
    assert service.pick(*at(scene, 0.5)) == "a"  # pick still names the shape

    service.set_selection_mode(TopAbs_EDGE)
    assert service.pick_detail(*at(scene, 1.0))[1].ShapeType() == TopAbs_EDGE  # the right side
    service.set_selection_mode(TopAbs_VERTEX)
    assert service.pick_detail(*at(scene, 1.0, 1.0))[1].ShapeType() == TopAbs_VERTEX
    service.erase_all()
    service.display_shape(make_box(), "a")
    assert service.pick_detail(*at(scene, 0.0, 0.0))[1].ShapeType() == TopAbs_VERTEX
    assert service.pick_detail(200, 5) is None
    service.set_selection_mode(None)
    assert service.pick_detail(*at(scene, 0.5))[1].ShapeType() == TopAbs_SOLID
    assert errors.records == []

    for wrong in (TopAbs_SOLID, "face", 4):
        service.set_selection_mode(wrong)
        errors.one_error("Error setting selection mode: %s")
        errors.clear()
    assert service.pick_detail(*at(scene, 0.5))[1].ShapeType() == TopAbs_SOLID


def test_clip_plane_hides_half_the_scene_and_comes_back_from_a_saved_state(
        service, scene, make_box, errors):
    from pictures import view_pixels

    service.set_background_color((0.3, 0.3, 0.3))  # as the saved state will paint it
    two_boxes(service, make_box)
    whole = view_pixels(scene.view)
    service.set_clip_plane((2.0, 0.0, 0.0), (1.0, 0.0, 0.0))
    assert [service.pick(*at(scene, x)) for x in (0.5, 3.5)] == [None, "b"]
    cut = view_pixels(scene.view)
    left, right = slice(0, at(scene, 2.0)[0]), slice(at(scene, 2.0)[0], None)
    assert abs(cut[:, left] - whole[:, left]).max() > 100  # "a" is gone
    assert abs(cut[:, right] - whole[:, right]).max() <= 2  # "b" is as it was
    state = json.loads(json.dumps(service.get_view_state()))
    assert state["clip_plane"] == {"origin": [2.0, 0.0, 0.0], "normal": [1.0, 0.0, 0.0],
                                   "capping": True}

    service.set_clip_plane((2.0, 0.0, 0.0), (-1.0, 0.0, 0.0), capping=False)  # flipped, moved in place
    assert [service.pick(*at(scene, x)) for x in (0.5, 3.5)] == ["a", None]
    assert scene.view.ClipPlanes().Size() == 1
    service.clear_clip_plane()
    assert abs(view_pixels(scene.view) - whole).max() <= 2
    assert service.get_view_state()["clip_plane"] is None

    assert service.set_view_state(state) is True
    assert abs(view_pixels(scene.view) - cut).max() <= 2
    assert service.set_view_state({k: v for k, v in state.items() if k != "clip_plane"}) is True
    assert scene.view.ClipPlanes() is None or scene.view.ClipPlanes().IsEmpty()
    assert errors.records == []

    # Nothing a plane cannot be changes the view.
    service.set_view_state(state)
    for origin, normal, capping in [((0, 0, 0), (0, 0, 0), True), ((0, 0, float("nan")), (1, 0, 0), True),
                                    ((1e300, 0, 0), (1, 0, 0), True), ("xyz", (1, 0, 0), True),
                                    ((0, 0, 0), (1, 0), True), ((0, 0, 0), None, True)]:
        service.set_clip_plane(origin, normal, capping)
        errors.one_error("Error setting clip plane: %s")
        errors.clear()
    for plane in ({"origin": [0, 0, 0], "normal": [1, 0, 0], "capping": 1},
                  {"origin": [0, 0, 0], "normal": [0, 0, 0], "capping": True}, [1, 2, 3]):
        assert service.set_view_state(dict(state, clip_plane=plane)) is False
        errors.clear()
    assert service.get_view_state() == state


def test_the_section_plane_is_the_services_own_whatever_planes_the_host_adds(
        service, scene, make_box, errors):
    from OCP.gp import gp_Dir, gp_Pln, gp_Pnt
    from OCP.Graphic3d import Graphic3d_ClipPlane

    def host_plane(z):  # keeps the boxes whole
        plane = Graphic3d_ClipPlane(gp_Pln(gp_Pnt(0.0, 0.0, z), gp_Dir(0.0, 0.0, 1.0)))
        scene.view.AddClipPlane(plane)
        return plane

    def picks():
        return [service.pick(*at(scene, x)) for x in (0.5, 3.5)]

    two_boxes(service, make_box)
    before = host_plane(-5.0)
    assert service.get_view_state()["clip_plane"] is None
    service.set_clip_plane((2.0, 0.0, 0.0), (1.0, 0.0, 0.0))
    after = host_plane(-6.0)
    service.set_clip_plane((2.0, 0.0, 0.0), (-1.0, 0.0, 0.0))
    assert picks() == ["a", None]
    assert service.get_view_state()["clip_plane"]["normal"] == [-1.0, 0.0, 0.0]
    assert scene.view.ClipPlanes().Size() == 3
    service.clear_clip_plane()
    assert picks() == ["a", "b"] and service.get_view_state()["clip_plane"] is None
    planes = scene.view.ClipPlanes()
    assert planes.Size() == 2
    for plane, z in ((before, -5.0), (after, -6.0)):
        assert plane.ToPlane().Location().Z() == z and plane.ToPlane().Axis().Direction().Z() == 1.0
        assert planes.Remove(plane)
    assert errors.records == []

def test_view_cube_belongs_to_the_view_and_turns_the_camera_when_clicked(
        service, scene, make_box, errors):
    two_boxes(service, make_box)
    service.set_view_cube(True)
    service.set_view_cube(True)
    (cube,) = cubes(scene.context)
    assert service.get_shape_count() == 2 and service.get_shape_id_for_ais_shape(cube) is None
    service.erase_all()
    assert cubes(scene.context) == [cube]
    two_boxes(service, make_box)
    # The cube sits in the lower left corner; a click on it is OCCT's to handle.
    front = scene.view.Camera().Direction()
    service.start_rotation(200, 150)
    service.rotate(230, 170)
    corner = (56, 300 - 56)
    assert service.pick(*corner) is None
    scene.context.MoveTo(*corner, scene.view, False)
    assert scene.context.DetectedInteractive() is cube
    scene.context.SelectDetected()
    # Its face in sight is the front of the service's own standard views, Y up.
    assert scene.view.Camera().Direction().IsEqual(front, 1e-6)
    service.set_clip_plane((0.0, 0.0, 0.0), (1.0, 0.0, 0.0))  # never cuts the cube
    scene.context.MoveTo(*corner, scene.view, False)
    assert scene.context.DetectedInteractive() is cube
    service.set_view_cube(False)
    assert cubes(scene.context) == [] and errors.records == []


def test_fit_selected_frames_the_selection_or_everything(service, scene, make_box, errors):
    service.display_shapes([(make_box(), "a"), (make_box(at=(30.0, 0.0, 0.0)), "b")])
    service.fit_all()
    everything = scene.view.Camera().Scale()

    service.select_shapes(["b"])
    service.fit_selected()
    assert scene.view.Camera().Scale() < everything / 10
    assert service.pick(200, 150) == "b"  # centred on it

    service.select_shapes([])
    service.fit_selected()
    assert scene.view.Camera().Scale() == pytest.approx(everything)
    assert errors.records == []


def test_isolate_and_show_all_keep_the_flags_true_to_the_screen(service, scene, make_box, errors):
    service.display_shapes([(make_box(at=(2.0 * n, 0.0, 0.0)), shape_id)
                            for n, shape_id in enumerate("abc")])
    service.set_shape_visibility("c", False)

    def shown():
        records = service.get_all_shapes()
        assert all(scene.context.IsDisplayed(r.ais_shape) is r.visible for r in records.values())
        return {shape_id for shape_id, r in records.items() if r.visible}

    service.isolate_shapes(iter(["c", "nope", ["unhashable"]]))
    assert shown() == {"c"}
    service.isolate_shapes([])
    assert shown() == set()
    service.show_all_shapes()
    assert shown() == {"a", "b", "c"}
    assert errors.records == []

    service.isolate_shapes("a")  # one identifier is no collection of them
    errors.one_error("Error isolating shapes: %s")
    assert shown() == {"a", "b", "c"}
