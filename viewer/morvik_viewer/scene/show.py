"""Parts into the service's scene: each with its colour as the viewer shows it."""

from morvik_viewer.model.colors import fallback_color, readable_color


def show_parts(service, parts, update=True, palette=False):
    """Books every part with the service; one viewer update for the lot, or none.
    palette: parts without a colour take the palette's (see fallback_color)."""
    service.display_shapes([display_item(p, palette) for p in parts], update)


def display_item(part, palette=False):
    """The item service.display_shapes takes for part: with its sub-shape colours when it
    has any, each colour as the viewer shows it (see model.colors.readable_color). A part
    the file leaves uncoloured shows in model.colors.fallback_color (a palette's with
    palette)."""
    color = readable_color(fallback_color(part.shape_id, palette) if part.color is None
                           else part.color)
    if part.sub_colors:
        return (part.shape, part.shape_id, color,
                [(sub, readable_color(rgb)) for sub, rgb in part.sub_colors])
    return (part.shape, part.shape_id, color)
