# Every target does its own set-up: Debian packages (as root), a python3.13
# virtual environment in .venv, and the build.
SHELL := /bin/bash
.DEFAULT_GOAL := test

VENV := .venv
PY := $(VENV)/bin/python
JOBS ?= 2
CORPUS ?= ../shared/corpus
APT_PACKAGES := g++ cmake make libxxhash-dev libgtest-dev libsimde-dev libbenchmark-dev
PIP_PACKAGES := scikit-build-core pytest numpy
SAN_LIBASAN = $(shell g++ -print-file-name=libasan.so)

# python3.13 from PATH, pyenv or the system, whichever exists first.
PYTHON313 ?= $(firstword $(foreach p,$(shell command -v python3.13 2>/dev/null) \
	$(wildcard $(HOME)/.pyenv/versions/3.13*/bin/python3.13) /usr/bin/python3.13 /usr/local/bin/python3.13,\
	$(if $(shell $(p) -c 'import sys; print(sys.version_info[:2] == (3, 13))' 2>/dev/null | grep True),$(p))))

.PHONY: test pytest cpptest build deps sanitize bench bench-cpp exhaustive clean

test: pytest cpptest

deps: $(VENV)/.deps

$(VENV)/.deps: Makefile
	@missing=$$(for p in $(APT_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else echo "missing Debian packages (install them as root): $$missing"; exit 1; fi; \
	fi
	@if [ -z "$(PYTHON313)" ]; then \
	  if [ "$$(id -u)" = 0 ] && apt-cache show python3.13-dev >/dev/null 2>&1; then \
	    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3.13-dev python3.13-venv; \
	  else echo "python3.13 with its headers is required"; exit 1; fi; \
	fi
	@py="$(PYTHON313)"; py=$${py:-python3.13}; \
	[ -x $(PY) ] || $$py -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q $(PIP_PACKAGES)
	touch $@

build: deps
	$(PY) -m pip install -q --no-build-isolation --no-deps .

pytest: build
	cd tests && ../$(VENV)/bin/pytest -q

build/cpp/Makefile: deps CMakeLists.txt
	cmake -S . -B build/cpp -DVELLUM_MODULE=OFF -DVELLUM_TESTS=ON -DPython_EXECUTABLE=$(abspath $(PY))

cpptest: build/cpp/Makefile
	cmake --build build/cpp -j$(JOBS)
	cd build/cpp && VELLUM_CORPUS=$(abspath $(CORPUS)) ctest --output-on-failure -j$(JOBS)

# The extension and the C++ tests built with AddressSanitizer and
# UndefinedBehaviorSanitizer. The interpreter is not rebuilt: the runtime is
# preloaded, leak detection stays off for the interpreter, and PYTHONMALLOC
# sends its allocations through malloc so that buffer overruns are caught.
sanitize: deps
	cmake -S . -B build/san -DVELLUM_SANITIZE=ON -DVELLUM_TESTS=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPython_EXECUTABLE=$(abspath $(PY))
	cmake --build build/san -j$(JOBS)
	cd tests && LD_PRELOAD=$(SAN_LIBASAN) ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 PYTHONMALLOC=malloc \
	  PYTHONPATH=$(abspath build/san/pkg) VELLUM_TEST_SCALE=0.1 ../$(VENV)/bin/pytest -q -p no:faulthandler
	cd build/san && VELLUM_CORPUS=$(abspath $(CORPUS)) LSAN_OPTIONS=suppressions=$(abspath .ci/lsan.supp) VELLUM_TEST_SCALE=0.1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j$(JOBS)

# Peers measured against; the only other JSON libraries this project installs.
BENCH_PACKAGES := msgspec ujson python-rapidjson simplejson pysimdjson jiter matplotlib
bench: build
	$(PY) -m pip install -q $(BENCH_PACKAGES)
	$(PY) bench/harness.py $(CORPUS) $(BENCH_ARGS)

bench-cpp: deps
	cmake -S . -B build/bench -DVELLUM_MODULE=OFF -DVELLUM_BENCH=ON -DPython_EXECUTABLE=$(abspath $(PY))
	cmake --build build/bench -j$(JOBS)
	for b in build/bench/bench/*_bench; do VELLUM_CORPUS=$(abspath $(CORPUS)) $$b; done

# Every finite single formatted and read back (minutes; not part of CI).
exhaustive: build/cpp/Makefile
	cmake --build build/cpp -j$(JOBS) --target number_f32_exhaustive
	build/cpp/tests/cpp/number_f32_exhaustive

clean:
	rm -rf build
