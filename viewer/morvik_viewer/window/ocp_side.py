"""The OCP-bound half of the window: what it calls on its OCCT view once OCP has loaded.

The window, and the command line that shows it, import nothing that loads OCP
(the window shows first, see app.ocp_import); they reach these through
window.main_window.ocp_side(). Importing this module loads everything the view
needs, which the OCP import's thread does once the libraries are in.
"""

from morvik_viewer.cad.shapes import sample_parts
from morvik_viewer.scene.loading import SceneLoad
from morvik_viewer.view.explode import Explosion
from morvik_viewer.view.fit import fit_view
from morvik_viewer.view.graphics import create_viewer3d, start_scene
from morvik_viewer.view.hidden_line import hide_lines
from morvik_viewer.view.look import highlight_faces, set_camera_moving, style_shapes
from morvik_viewer.view.upright import move_of, placement, turn_shapes, upright
from morvik_viewer.view.view_cube import show_view_cube
from morvik_viewer.view.widget import OcctViewWidget
from morvik_viewer.window.images import save_view_image

__all__ = ["Explosion", "OcctViewWidget", "SceneLoad", "create_viewer3d", "fit_view",
           "hide_lines", "highlight_faces", "move_of", "placement", "sample_parts",
           "save_view_image", "set_camera_moving", "show_view_cube", "start_scene", "style_shapes",
           "turn_shapes", "upright"]
