# Developer tasks, from a prepared .venv (scripts/setup --test).
#
#   make test         the everyday test run (incremental build first): about 3.5 minutes
#                     on a 2-core machine (759 tests); before the release tests went
#                     behind the slow marker it took about 4.5 (they add about a minute)
#   make lint         ruff on viewer/, bench/, scripts/, tests/ and examples/, mypy on the
#                     viewer (seconds, no build: mypy reads the installed modules' stubs)
#   make bench        the service against raw OCP calls, each query against a plain
#                     Python method, display_shapes of 20,000 shapes against the plain
#                     loop, the viewer's longest stall opening 300 and 5,000 parts, and
#                     its model tree of 5,000 parts against plain Qt;
#                     bench-quick is shorter, bench-instructions counts instructions
#                     under callgrind
#   make bench-open   how long files take to be on screen whole, the viewer's window and
#                     screenshot against a plain OCP script (bench/open_time.py)
#   make bench-tree   --tree FILE against a screenshot of the same file (bench/tree_time.py)
#   make lifetime     long display/erase and toolbar create/destroy runs with leak checks
#   make fuzz-long    the property tests, searching far wider than the fixed set
#   make sanitize     the whole suite against an ASan + UBSan build of both modules
#   make typecheck    the committed stubs against the built modules, and mypy on the examples
#   make stubs        write the committed stubs anew from the built modules
#   make compat       the whole suite on each supported OCP, PySide6 and Python (scripts/compat)
#   make dist         the sdist and the manylinux abi3 wheel in dist/, from a fresh clone of
#                     HEAD, checked by twine and by installing each (scripts/dist), then
#                     the release tests (pytest -m slow: a fresh host install, pedantic C++)

SHELL := bash
PYTHON ?= .venv/bin/python
PYTEST = $(PYTHON) -m pytest -p no:cacheprovider
# Rebuilds run without build isolation, on the build tools scripts/setup --test
# puts into .venv (with CMake and Ninja when the machine has none).
BUILD_TOOLS = $(PYTHON) -c "import scikit_build_core, nanobind, flit_core, pytest" 2>/dev/null || \
        { echo "make: $(PYTHON) lacks the build or test tools; run scripts/setup --test" >&2; exit 1; }
BUILD = $(PYTHON) -m pip install -q --no-build-isolation --no-deps -Cbuild-dir=build/dev . && \
        $(PYTHON) -m pip install -q --no-build-isolation --no-deps --force-reinstall ./standin ./viewer

.PHONY: build test lint bench bench-quick bench-instructions bench-open lifetime fuzz-long sanitize \
        sanitize-build typecheck stubs compat dist bench-tree

build:
	@$(BUILD_TOOLS)
	$(BUILD)

test: build
	$(PYTEST) -q

# Both checks run, whatever the first finds; either failing fails the target.
LINTED = viewer bench scripts tests examples
lint:
	@$(PYTHON) -c "import ruff, mypy" 2>/dev/null || \
	    { echo "make: $(PYTHON) lacks ruff or mypy; run scripts/setup --test" >&2; exit 1; }
	@status=0; \
	echo "ruff check $(LINTED)"; $(PYTHON) -m ruff check --quiet --output-format concise $(LINTED) || status=1; \
	echo "mypy viewer/morvik_viewer"; $(PYTHON) -m mypy viewer/morvik_viewer || status=1; \
	exit $$status

# Writes bench/results/service-<date>.json, then times each query against a
# plain Python method (bench/results/queries.json), then writes
# bulk-display-<date>.json, viewer-stall-<date>.json and model-tree-<date>.json.
bench: build
	$(PYTHON) bench/bench_service.py
	$(PYTHON) bench/query_cost.py --no-instructions
	$(PYTHON) bench/bulk_display.py
	$(PYTHON) bench/viewer_stall.py
	$(PYTHON) bench/model_tree.py

bench-quick: build
	$(PYTHON) bench/bench_service.py --quick

# The same steps counted in instructions under callgrind (N = 100, about
# three minutes): exact where the timings above are noisy.
bench-instructions: build
	$(PYTHON) bench/instructions.py
	$(PYTHON) bench/query_cost.py

# Writes bench/results/open-time-<date>.json; FILES="a.step b.step" times those too.
bench-open: build
	@$(PYTHON) -c "import matplotlib" 2>/dev/null || $(PYTHON) -m pip install -q "matplotlib>=3.8"
	$(PYTHON) bench/open_time.py $(FILES)

# Writes bench/results/tree-time-<date>.json: --tree against --screenshot of the same files.
bench-tree: build
	$(PYTHON) bench/tree_time.py $(FILES)

lifetime: build
	$(PYTEST) -q tests/test_service_lifetime.py tests/test_toolbar_lifetime.py

fuzz-long: build
	MORVIK_FUZZ_PROFILE=long $(PYTEST) -q tests/test_fuzz.py

# The sanitized modules are installed into their own folder, which goes ahead
# of .venv's site-packages; everything else comes from .venv as usual.
SANITIZED = build/sanitized
SANITIZER_RUNTIME = $(shell gcc -print-file-name=libasan.so) $(shell gcc -print-file-name=libubsan.so)

# The stand-in host's package files are copied in beside the modules: a
# package folder without them would lose to .venv's regular package.
sanitize-build:
	@$(BUILD_TOOLS)
	$(PYTHON) -m pip install --quiet --no-build-isolation --no-deps --upgrade --target $(SANITIZED)/site \
	    -Cbuild-dir=$(SANITIZED)/cmake -Ccmake.build-type=RelWithDebInfo \
	    -Ccmake.define.MORVIK_SANITIZE=ON .
	cp -r standin/morvik/. $(SANITIZED)/site/morvik/

# The interpreter is not instrumented, so the ASan runtime is preloaded ahead
# of it; its own allocations are not ours to leak-check. PYTHONMALLOC=malloc
# routes Python objects through malloc, so ASan sees a reference we drop once
# too often as a use after free. Freed memory waits in ASan's quarantine (256 MB)
# before reuse, so resident memory says little of leaks there: the lifetime
# tests count ASan's live heap bytes instead (tests/census.py).
SANITIZED_ENV = env PYTHONPATH=$(SANITIZED)/site PYTHONMALLOC=malloc \
    LD_PRELOAD="$(SANITIZER_RUNTIME)" \
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:suppressions=$(CURDIR)/tools/asan.supp \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=$(CURDIR)/tools/ubsan.supp

sanitize: sanitize-build
	$(SANITIZED_ENV) $(PYTHON) -c "import morvik.services.scenard as s, morvik.widgets.panelor as p; \
	    assert all('$(SANITIZED)/' in m.__file__ for m in (s, p)), 'not the sanitized build'"
	time $(SANITIZED_ENV) $(PYTEST) -q tests

typecheck: build
	$(PYTEST) -q tests/test_typing.py
	$(PYTHON) -m mypy

stubs: build
	$(PYTHON) -m nanobind.stubgen -q -m morvik.services.scenard -o src/morvik/services/scenard.pyi
	$(PYTHON) -m nanobind.stubgen -q -m morvik.widgets.panelor -o src/morvik/widgets/panelor.pyi \
	    -p src/morvik/widgets/panelor/stub_patterns.txt

# Fresh environments under build/compat; results in build/compat/results.md.
compat:
	@$(BUILD_TOOLS)
	scripts/compat

dist:
	PYTHON=$(PYTHON) scripts/dist
