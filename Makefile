# Thin entry points; the build itself is CMake's. Every target installs the
# Debian packages it needs first (scripts/setup.sh).
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
JOB        ?= examples/sample-job.txt

.PHONY: all setup build demo test console-screenshot sanitize test-asan test-tsan bench clean preview-check soak fault-matrix fault-matrix-report

all: build

setup:
	@scripts/setup.sh build

$(BUILD)/CMakeCache.txt: | setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The main job: a sample job printed through the real module against the
# built-in simulated machine, on the virtual clock. Builds the tool and the
# module only; the suite is built by make test.
demo: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target kestrova
	$(BUILD)/tool/kestrova print --fast $(JOB)

# The whole suite; the console's browser test needs Chromium and Selenium
# (skipped with its reason where Chromium cannot start).
test: build
	@scripts/setup.sh browser
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure
	@grep -h "^browser test skipped:" $(BUILD)/Testing/Temporary/LastTest.log || true

# The console's picture in docs/: a halted and a producing machine, taken by
# the browser test.
console-screenshot: build
	@scripts/setup.sh browser
	/usr/bin/python3 tests/console/console_browser_test.py $(BUILD)/tool/kestrova --screenshot docs/console.png

# A card preview of the sample job, drawn by the tool and rendered to PNG by
# a real SVG renderer: the picture must decode, be the card's proportions
# (856 x 540) and not be blank.
PREVIEW_DIR = $(BUILD)/preview-check

preview-check: setup $(BUILD)/CMakeCache.txt
	@scripts/setup.sh preview
	cmake --build $(BUILD) -j $(JOBS) --target kestrova
	rm -rf $(PREVIEW_DIR)
	$(BUILD)/tool/kestrova check --config examples/KestrovaLM.cfg --preview $(PREVIEW_DIR) $(JOB) > $(BUILD)/preview-check.txt
	test -s $(PREVIEW_DIR)/index.html
	rsvg-convert -o $(PREVIEW_DIR)/card-1.png $(PREVIEW_DIR)/card-1.svg
	python3 scripts/png_check.py $(PREVIEW_DIR)/card-1.png 856 540

# The suite under AddressSanitizer and UndefinedBehaviorSanitizer, and the
# concurrent tests under ThreadSanitizer.
sanitize: test-asan test-tsan

test-asan: setup
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKESTROVA_BENCH=OFF -DKESTROVA_CHECKS=OFF "-DKESTROVA_SANITIZE=address;undefined"
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan -j $(JOBS) --output-on-failure

test-tsan: setup
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_BENCH=OFF -DKESTROVA_CHECKS=OFF -DKESTROVA_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan -j $(JOBS) --output-on-failure

# The soak (checks/soak, docs/tool.md): jobs through the real module against
# the simulated machine with random faults while a client sends random control
# requests, on the virtual clock; then the machine's card log and the spooler
# calls are checked. The same SOAK_SEED gives the same run. A check, not a
# test: make soak SOAK_CARDS=10000 SOAK_SEED=7 for a long one.
SOAK_CARDS ?= 300
SOAK_SEED  ?= 3
SOAK_ARGS  ?=

soak: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target kestrova_soak
	$(BUILD)/checks/soak/kestrova_soak --cards $(SOAK_CARDS) --seed $(SOAK_SEED) $(SOAK_ARGS)

# The fault matrix (checks/matrix, docs/tool.md): first a wire that lies as a
# broken module would, which must fail every time; then every single fault
# at every exchange of a 3-card and a 1-card job, delays swept across the
# read time-out and the bound on one reply, each control request at every
# cycle boundary alone and with a line fault, through the real module
# against the simulated machine on the virtual clock, each physical card
# followed to its end; ends with "N passed, N failed". PAIRS=1 runs every
# pair of single faults on a 2-card job instead.
PAIRS ?=
MATRIX_ARGS ?=

fault-matrix: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target kestrova_fault_matrix
	$(BUILD)/checks/matrix/kestrova_fault_matrix $(if $(filter 1,$(PAIRS)),--pairs) $(MATRIX_ARGS)

# Both runs of the matrix, their figures written into docs/security.md.
fault-matrix-report: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target kestrova_fault_matrix
	$(BUILD)/checks/matrix/kestrova_fault_matrix --markdown $(BUILD)/matrix-singles.md
	$(BUILD)/checks/matrix/kestrova_fault_matrix --pairs --markdown $(BUILD)/matrix-pairs.md
	python3 scripts/matrix_report.py docs/security.md "make fault-matrix" $(BUILD)/matrix-singles.md PAIRS=1 $(BUILD)/matrix-pairs.md

# Every bench/ program (Google Benchmark, JSON), then docs/performance.md
# generated from the results.
BENCH_RESULTS = $(BUILD)/bench/results

bench: build
	@mkdir -p $(BENCH_RESULTS)
	@set -e; for program in $(BUILD)/bench/bench_*; do \
	  [ -f "$$program" ] && [ -x "$$program" ] || continue; \
	  echo "bench: $$program"; \
	  "$$program" --benchmark_out=$(BENCH_RESULTS)/$$(basename $$program).json --benchmark_out_format=json; \
	done
	python3 scripts/bench_report.py $(BENCH_RESULTS) docs/performance.md

# clang-tidy's checks (.clang-tidy) over the module, the platform layer, the
# doubles, the simulator and the tool, as this build compiles them: any
# warning fails, with the findings in $(TIDY_BUILD)/tidy.log.
TIDY_BUILD ?= tidy-build
TIDY_FILES ?= (monitor|port|link|production|control|platform|standin|simulator|tool)/

.PHONY: tidy
tidy: setup
	@scripts/setup.sh tidy
	cmake -S . -B $(TIDY_BUILD) -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DKESTROVA_TESTS=OFF -DKESTROVA_BENCH=OFF -DKESTROVA_CHECKS=OFF >/dev/null
	@run-clang-tidy -p $(TIDY_BUILD) -j $(JOBS) -quiet \
	  '$(CURDIR)/$(TIDY_FILES)' >$(TIDY_BUILD)/tidy.log 2>&1; \
	findings=$$(grep -c -E "(warning|error):" $(TIDY_BUILD)/tidy.log); \
	if [ "$$findings" -ne 0 ]; then grep -E -A3 "(warning|error):" $(TIDY_BUILD)/tidy.log | head -n 80; \
	  echo "tidy: $$findings findings (all in $(TIDY_BUILD)/tidy.log)"; exit 1; fi; \
	echo "tidy: $$(grep '"file"' $(TIDY_BUILD)/compile_commands.json | grep -c -E '$(CURDIR)/$(TIDY_FILES)') files, no findings"

# Clang's thread-safety analysis over the module's core: every field marked
# GUARDED_BY is touched only with its lock held, every function marked
# REQUIRES is called with it (port/port_mutex.h); any finding fails the build.
THREAD_BUILD ?= thread-build

.PHONY: thread-safety
thread-safety:
	@scripts/setup.sh build fuzz
	CC=clang CXX=clang++ cmake -S . -B $(THREAD_BUILD) -DKESTROVA_THREAD_SAFETY=ON -DKESTROVA_TESTS=OFF \
	  -DKESTROVA_BENCH=OFF -DKESTROVA_CHECKS=OFF -DKESTROVA_TOOL=OFF >/dev/null
	cmake --build $(THREAD_BUILD) -j $(JOBS) --target kestrova_core
	@echo "thread-safety: the core builds under -Wthread-safety with no finding"

# --- fuzzing: every fuzz/*.cpp under libFuzzer (clang), each for
# FUZZ_SECONDS; new inputs go to the build's own corpus, the seeds in
# fuzz/corpus/ stay as they are, findings land in $(FUZZ_BUILD)/findings/.
FUZZ_BUILD   ?= fuzz-build
FUZZ_SECONDS ?= 180
FUZZ_TARGETS  = $(basename $(notdir $(wildcard fuzz/*.cpp)))

.PHONY: fuzz fuzz-smoke fuzz-programs

fuzz-programs:
	@scripts/setup.sh build fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DKESTROVA_FUZZ=ON -DKESTROVA_TOOL=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))

# Each fuzzer runs on one processor: $(JOBS) of them run at once, each
# writing to $(FUZZ_BUILD)/logs/TARGET.log, whose end (the final figures, or
# the finding) is printed when it stops.
fuzz: fuzz-programs
	@mkdir -p $(FUZZ_BUILD)/findings $(FUZZ_BUILD)/logs
	@printf '%s\n' $(FUZZ_TARGETS) | xargs -P $(JOBS) -I TARGET sh -c '\
	  mkdir -p $(FUZZ_BUILD)/corpus/TARGET; \
	  echo "fuzz: TARGET for $(FUZZ_SECONDS) s"; \
	  if $(FUZZ_BUILD)/fuzz/fuzz_TARGET -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	       -artifact_prefix=$(FUZZ_BUILD)/findings/TARGET- $(FUZZ_BUILD)/corpus/TARGET fuzz/corpus/TARGET \
	       >$(FUZZ_BUILD)/logs/TARGET.log 2>&1; then \
	    tail -n 12 $(FUZZ_BUILD)/logs/TARGET.log | sed "s/^/fuzz: TARGET| /"; \
	  else \
	    tail -n 60 $(FUZZ_BUILD)/logs/TARGET.log | sed "s/^/fuzz: TARGET| /"; \
	    echo "fuzz: TARGET found a fault (see above; its input is in $(FUZZ_BUILD)/findings/)"; exit 1; \
	  fi'

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=30

# --- Windows: KestrovaLM.dll for x86 and x64 (MinGW-w64), tested under Wine
WIN_CMAKE_ARGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTROVA_TESTS=OFF -DKESTROVA_BENCH=OFF -DKESTROVA_CHECKS=OFF
VERSION := $(shell sed -n 's/^project.KestrovaLM VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
DIST    ?= dist

.PHONY: windows windows-setup wine-test bench-wine dist

windows-setup:
	@scripts/setup.sh windows

# Both modules, kestrova.exe and the programs that test them under Wine.
# The DLLs and kestrova.exe are shipped as built here: stripped, their debug
# information in NAME.debug beside them. objdump and windres then check the
# machine type, the one export and the system-only imports, the stand-in
# winspool.drv's exports, the stripping and the version resource, and that
# the x86 module's link runs without stdcall fix-ups. These static checks
# need no Windows runtime.
windows: windows-setup
	cmake -S . -B win-build-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw.cmake -DKESTROVA_WINDOWS_ARCH=x86 $(WIN_CMAKE_ARGS)
	cmake --build win-build-x86 -j $(JOBS)
	cmake -S . -B win-build-x64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw.cmake -DKESTROVA_WINDOWS_ARCH=x64 $(WIN_CMAKE_ARGS)
	cmake --build win-build-x64 -j $(JOBS)
	tests/wine/check_pe.sh module x86 win-build-x86/KestrovaLM.dll
	tests/wine/check_pe.sh module x64 win-build-x64/KestrovaLM.dll
	tests/wine/check_pe.sh program x86 win-build-x86/tool/kestrova.exe win-build-x86/tests/wine/spooler_check.exe
	tests/wine/check_pe.sh program x64 win-build-x64/tool/kestrova.exe win-build-x64/tests/wine/spooler_check.exe
	tests/wine/check_pe.sh standin x86 win-build-x86/tests/wine/winspool.drv
	tests/wine/check_pe.sh standin x64 win-build-x64/tests/wine/winspool.drv
	tests/wine/check_pe.sh release $(VERSION) win-build-x86/KestrovaLM.dll win-build-x86/tool/kestrova.exe \
	  win-build-x64/KestrovaLM.dll win-build-x64/tool/kestrova.exe
	tests/wine/check_pe.sh stdcall-guard win-build-x86

# Both DLLs under Wine in a throw-away prefix, compared with the Linux module,
# kestrova.exe's own outputs compared with the Linux tool's,
# kestrova.exe install / uninstall against Wine's spooler, and the release
# zip unpacked afresh with its install note followed verbatim. Where this
# machine cannot run 32-bit programs the x86 half runs in the virtual machine
# (made first if its image is not there: docs/windows.md).
wine-test: dist $(BUILD)/CMakeCache.txt
	@scripts/setup.sh wine wine-x86
	cmake --build $(BUILD) -j $(JOBS) --target spooler_check KestrovaLM kestrova
	tests/wine/run.sh $(BUILD) win-build-x86 win-build-x64 $(DIST)/KestrovaLM-$(VERSION).zip

# The largest job each DLL takes and its time per card, under Wine (the x86
# DLL in the virtual machine where this machine cannot run 32-bit programs);
# the figures join docs/performance.md. A measurement, not a test.
bench-wine: windows
	@scripts/setup.sh wine wine-x86
	scripts/bench_wine.sh win-build-x86 win-build-x64 $(BENCH_RESULTS)
	@if ls $(BENCH_RESULTS)/bench_*.json >/dev/null 2>&1; then \
	  python3 scripts/bench_report.py $(BENCH_RESULTS) docs/performance.md; \
	else echo "bench-wine: results in $(BENCH_RESULTS); make bench writes the whole report"; fi

# The virtual machine that runs the x86 checks where this machine cannot run
# 32-bit programs: its image (made once and kept in KESTROVA_VM_CACHE), and
# a command run in it against this checkout, for reproducing an x86-only
# failure by hand:  make vm-run CMD='tests/wine/run.sh --only x86 build win-build-x86 win-build-x64 dist/KestrovaLM-1.0.0.zip'
.PHONY: vm-image vm-run
vm-image:
	@scripts/setup.sh vm
	scripts/vm/image.sh

vm-run: vm-image
	scripts/vm/run.sh -- $(CMD)

# The release: $(DIST)/KestrovaLM-$(VERSION)/ and its zip (both DLLs, both
# kestrova.exe, an install note, the examples, the docs an administrator
# needs, the licence, SHA-256 sums), and a zip of the debug information
# beside it. The sizes of what it ships go into docs/windows.md
# (scripts/size_report.py), and the release is made again when they changed.
dist: windows
	@scripts/setup.sh dist
	scripts/make_dist.sh $(VERSION) win-build-x86 win-build-x64 $(DIST)
	@said=$$(python3 scripts/size_report.py docs/windows.md win-build-x86 win-build-x64 \
	      $(DIST)/KestrovaLM-$(VERSION).zip $(DIST)/KestrovaLM-$(VERSION)-debug.zip) || exit 1; \
	echo "$$said"; \
	case "$$said" in *"sizes written"*) \
	  echo "dist: again, with the sizes in docs/windows.md"; \
	  scripts/make_dist.sh $(VERSION) win-build-x86 win-build-x64 $(DIST) ;; \
	esac

# Everything the targets above build in this checkout (the virtual machine's
# image stays in its cache: docs/windows.md).
clean:
	rm -rf $(BUILD) build-asan build-tsan $(FUZZ_BUILD) $(TIDY_BUILD) $(THREAD_BUILD) win-build-x86 win-build-x64 $(DIST)
