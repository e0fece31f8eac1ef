# Developer tasks. Each one first brings the installed modules up to date with
# the sources (an incremental build into build/dev).

PYTHON ?= .venv/bin/python
BUILD = $(PYTHON) -m pip install -q --no-build-isolation --no-deps -Cbuild-dir=build/dev .

.PHONY: build test bench bench-quick bench-instructions lifetime

build:
	$(BUILD)

test: build
	$(PYTHON) -m pytest -q

# The viewer service against the same OCCT calls made from Python (a few
# minutes); writes bench/results/service-<date>.json.
bench: build
	$(PYTHON) bench/bench_service.py

bench-quick: build
	$(PYTHON) bench/bench_service.py --quick

# The same steps counted in instructions under callgrind (N = 100, about
# two minutes): exact where the timings above are noisy.
bench-instructions: build
	$(PYTHON) bench/instructions.py

# Long display/erase and create/destroy runs, with their leak checks.
lifetime: build
	$(PYTHON) -m pytest -q tests/test_lifetime.py
