"""The same workloads as direct.py, driven through the viewer service."""

from morvik.services.scenard import Scenard


class ServiceScene:
    kind = "service"

    def __init__(self, scene):
        self.service = Scenard(scene.view, scene.viewer, scene.context)

    def display(self, items, update):
        service = self.service
        for shape_id, shape, color in items:
            service.display_shape(shape, shape_id, color, update)

    def set_display_mode(self, mode):
        self.service.set_display_mode(mode)

    def set_global_transparency(self, transparency):
        self.service.set_global_transparency(transparency)

    def set_selection_mode(self, kind):
        self.service.set_selection_mode(kind)

    def select_shapes(self, shape_ids):
        self.service.select_shapes(shape_ids)

    def set_visibility(self, shape_ids, visible):
        service = self.service
        for shape_id in shape_ids:
            service.set_shape_visibility(shape_id, visible, False)

    def lookup_ids(self, presentations):
        service = self.service
        for ais in presentations:
            service.get_shape_id_for_ais_shape(ais)

    def lookup_visible(self, shape_ids):
        service = self.service
        for shape_id in shape_ids:
            service.is_shape_visible(shape_id)

    def erase(self, shape_ids, update):
        service = self.service
        for shape_id in shape_ids:
            service.erase_shape(shape_id, update)

    def presentations(self, shape_ids):
        return [self.service.get_shape_info(shape_id).ais_shape for shape_id in shape_ids]
