"""Writes the service's stub patterns: one per public query, from its row.

    python tools/query_stub_patterns.py > src/morvik/services/scenard/stub_patterns.txt

The queries are plain method descriptors, whose text signature carries no
types, so nanobind's stub generator is handed each one's typed signature
(the module's `_signatures`, read from the rows) and keeps its docstring.
`make stubs` runs this before writing the stub.
"""

from morvik.services import scenard


def patterns():
    yield "# Written by tools/query_stub_patterns.py from the built module (make stubs)."
    for name, member in vars(scenard.Scenard).items():
        if type(member).__name__ == "method_descriptor" and not name.startswith("_"):
            yield rf"\.Scenard\.{name}$:"
            yield f"    {scenard._signatures[name]}:"
            yield "        \\doc"


if __name__ == "__main__":
    print("\n".join(patterns()))
