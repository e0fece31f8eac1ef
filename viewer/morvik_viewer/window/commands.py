"""What the menus do to the scene shown: fit, hide, show, isolate and zoom to the selection,
Esc, save an image of the view, and export the files or the selected parts."""

from PySide6.QtWidgets import QDialog, QMessageBox

from morvik_viewer.app.settings import IMAGE_FOLDER, last_folder, remember_folder
from morvik_viewer.model.paths import PathError, shown
from morvik_viewer.window import export as exporting
from morvik_viewer.window.save_image import ImageError, SaveImageDialog, proposed_path
from morvik_viewer.window.scenes import TITLE


class Commands:
    """The menus' commands on window's scene (a ViewerWindow, once its view is there);
    side gives the window's OCP-bound half (window.ocp_side)."""

    def __init__(self, window, side):
        self._window, self._side = window, side  # side: the window's ocp_side
        self.exporting = None  # the export running (window.export.ExportRun), if any

    def fit_all(self):
        self._window.fit()
        self._window.show_message("Fit all")

    def _on_selected(self, verb, done, act):
        """act(shape_ids) on the selected shapes, then the count and "done: ..." in the status
        bar; with nothing selected, only a message that there is nothing to verb."""
        window = self._window
        shape_ids = window.view_widget.selected_shape_ids()
        if not shape_ids:
            window.show_message(f"Nothing selected to {verb}")
            return
        act(shape_ids)
        window.recount()
        window.show_message(f"{done}: {shape_ids[0]}" if len(shape_ids) == 1
                            else f"{done}: {len(shape_ids)} shapes")

    def hide_selected(self):
        window = self._window

        def hide(shape_ids):
            window.view_widget.clear_selection()
            for shape_id in shape_ids:
                window.service.set_shape_visibility(shape_id, False, False)
            window.service.get_context().UpdateCurrentViewer()

        self._on_selected("hide", "Hidden", hide)

    def show_all(self):
        self._window.service.show_all_shapes()
        self._window.recount()
        self._window.show_message("All shapes shown")

    def zoom_to_selection(self):
        window = self._window
        selected = window.view_widget.selected_shape_ids()
        window.service.fit_selected()
        window.show_message("Zoomed to the selection" if selected else "Nothing selected: fit all")

    def isolate_selected(self):
        self._on_selected("isolate", "Isolated", lambda ids: self._window.service.isolate_shapes(ids))

    def escape(self):
        # Esc leaves measure mode first; it clears the selection otherwise.
        if self._window.state.measure:
            self._window.state.measure = False
        else:
            self._window.view_widget.clear_selection()

    def save_image_dialog(self):
        w = self._window
        path = proposed_path(w.scenes.paths, last_folder(w.settings, IMAGE_FOLDER),
                             last_folder(w.settings))
        dialog = SaveImageDialog(w.view_widget.device_size(), path, w)
        if dialog.exec() == QDialog.Accepted:
            self.save_image(dialog.path(), dialog.image_size())

    def save_image(self, path, size=None):
        """Saves what the view shows to a PNG or JPEG file at size (the view's device size by
        default); returns the path written, or None once the user has been told why not."""
        w = self._window
        try:
            written = self._side().save_view_image(w.viewer3d.view, path,
                                                   size or w.view_widget.device_size())
        except ImageError as error:
            QMessageBox.warning(w, TITLE, str(error))
            return None
        remember_folder(w.settings, written, IMAGE_FOLDER)  # proposed next time
        w.show_message(f"Saved {shown(written)}")
        return written

    def export_dialog(self):
        self._export_dialog(False)

    def export_selection_dialog(self):
        self._export_dialog(True)

    def _export_dialog(self, selection):
        w = self._window
        ids = w.view_widget.selected_shape_ids() if selection else None
        if not w.scenes.paths:
            w.show_message("Nothing to export: the scene shows no file")
        elif selection and not ids:
            w.show_message("Nothing selected to export")
        else:
            title = "Export Selection" if selection else "Export"
            path = exporting.ask_target(w, title, exporting.proposed_path(w.scenes.paths,
                                                                          selection))
            if path:
                self.export(path, ids)

    def export(self, path, ids=None):
        """Writes the open files (the parts named ids alone, when given) into path, of the
        kind its name says, in a reader process; the end is told in the status bar, or in
        a message box when it failed. Returns the ExportRun, or None when none started."""
        w = self._window
        if self.exporting is not None:
            w.show_message(f"Still exporting to {shown(self.exporting.target)}")
            return None
        try:
            run = exporting.ExportRun(w.scenes.paths, path, ids, w)
        except PathError as error:
            QMessageBox.warning(w, TITLE, str(error))
            return None
        self.exporting = run
        run.finished.connect(self._exported)
        what = "the files" if ids is None else (
            ids[0] if len(ids) == 1 else f"{len(ids)} parts")
        w.show_message(f"Exporting {what} to {shown(path)}…")
        return run

    def _exported(self, outcome):
        w, run, self.exporting = self._window, self.exporting, None
        if run is not None:
            run.deleteLater()
        if outcome.message is not None:
            QMessageBox.warning(w, TITLE, outcome.message)
        else:
            w.show_message(f"Exported to {shown(run.target)}")
