"""The window's tools, in the order their docks are placed and their actions listed: a new
tool is a folder of its own here and one line in TOOLS (see base.Tool)."""

from morvik_viewer.tools.explode.tool import ExplodeTool
from morvik_viewer.tools.measure.tool import MeasureTool
from morvik_viewer.tools.model_tree.tool import ModelTreeTool
from morvik_viewer.tools.section.tool import SectionTool
from morvik_viewer.tools.view_cube.tool import ViewCubeTool

# The exploded view before the measure tool: parts move before they are measured again.
TOOLS = [SectionTool, ViewCubeTool, ModelTreeTool, ExplodeTool, MeasureTool]
