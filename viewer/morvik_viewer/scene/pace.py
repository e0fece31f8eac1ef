"""How the scene's frames are paced while it is cleared and shown (see view.slices).

Clearing the old scene and showing the new one run in slices, with no viewer
update: each slice erases or displays as many shapes as the last ones
suggest fit (view.slices.Pace). Every FRAME_EVERY_NEW shapes (or
view.slices.FRAME_EVERY_S) one slice draws a frame instead, so the new scene
grows on screen and the final frame has few shapes left to send to the
graphics card. (Measured under Mesa's software OpenGL: a frame of 5000
shapes draws in 60 to 80 ms on a quiet machine; the first frame after new
shapes adds some 20 ms, and 5 to 20 us for each new shape. Each frame in
between costs about what the final one does, so there are few of them.)
"""


# How often the growing scene is drawn while it is shown: after at most this
# many new shapes (or FRAME_EVERY_S).
FRAME_EVERY_NEW = 500
# A frame draws the whole scene shown so far, and each shape new since the
# last frame adds about NEW_SHAPE_S (its buffers go to the graphics card). As
# the scene grows, frames come after fewer new shapes (never fewer than
# FRAME_LEAST_NEW), so that each stays near FRAME_BUDGET_S.
FRAME_BUDGET_S = 0.09
NEW_SHAPE_S = 80e-6
FRAME_LEAST_NEW = 150
# A frame in between draws the whole scene shown so far: one of tens of thousands of
# shapes takes longer than any slice, and a frame every FRAME_LEAST_NEW shapes would
# make most of the load's time. Frames in between take at most this share of it.
FRAMES_SHARE = 0.2
# How often a load that has shown every part heard so far looks again, while the
# reader still meshes the next ones (new batches wake it at once).
STARVED_MS = 20
