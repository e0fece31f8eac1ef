"""The viewer's modules import one another downward only: no circle among their imports,
and imports of the viewer inside functions only where the start's order needs one."""

import ast
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[1] / "viewer" / "morvik_viewer"
MOST_LATE = 5  # the start's deferrals (app.cli, app.start, the window's OCP side, the reader)


def imported(node, modules):
    """The viewer's modules an import statement names."""
    if isinstance(node, ast.Import):
        return [alias.name for alias in node.names if alias.name in modules]
    base = node.module or ""
    return [f"{base}.{a.name}" if f"{base}.{a.name}" in modules else base for a in node.names
            if base.startswith("morvik_viewer")]


def survey():
    """Each module's imports of the viewer at module level, and the late ones:
    (module, line, whether a comment says why) for each import inside a function."""
    paths = {".".join(("morvik_viewer", *p.relative_to(SOURCE).with_suffix("").parts))
             .removesuffix(".__init__"): p for p in SOURCE.rglob("*.py")}
    graph, late = {}, []
    for module, path in paths.items():
        lines = path.read_text().splitlines()
        tree, graph[module] = ast.parse("\n".join(lines)), set()
        pending = [(node, False) for node in tree.body]
        while pending:
            node, in_function = pending.pop()
            if isinstance(node, (ast.Import, ast.ImportFrom)) and imported(node, paths):
                if in_function:  # a comment on the line, or just above it
                    said = "#" in lines[node.lineno - 1] + lines[node.lineno - 2].strip()[:1]
                    late.append((module, node.lineno, said))
                else:
                    graph[module].update(imported(node, paths))
            elif not (isinstance(node, ast.If) and "TYPE_CHECKING" in ast.unparse(node.test)):
                inner = in_function or isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef))
                pending += [(child, inner) for child in ast.iter_child_nodes(node)]
    return graph, late


def test_the_viewers_modules_import_in_no_circle():
    graph, _ = survey()
    done, path = set(), []

    def visit(module):
        assert module not in path, f"import circle: {' -> '.join(path[path.index(module):])}"
        if module not in done:
            path.append(module)
            for name in graph[module]:
                visit(name)
            done.add(path.pop())

    for module in graph:
        visit(module)


def test_imports_of_the_viewer_inside_functions_are_few_and_each_says_why():
    _, late = survey()
    assert len(late) <= MOST_LATE, late
    assert all(said for *_, said in late), [where for *where, said in late if not said]
