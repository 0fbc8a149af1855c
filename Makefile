# Entry points for users and CI. `make run` runs the example case in ./run,
# `make test` builds and runs every test (an optimised build, then a debug
# build with AddressSanitizer and UndefinedBehaviorSanitizer). Each target
# first installs the Debian packages it needs and lacks (.ci/instala).
JOBS ?= 2
# pipefail: a failed run is not hidden by the tee of its console lines
SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -c
EXAMPLE ?= examples/bocal
RELEASE := build
SANITIZE := build-asan
WINDOWS := build-windows

# What each target needs, beyond make itself.
PACKAGES_BUILD := cmake g++
# The tests start gnuplot (pngcairo) and VTK's reader of the field file for real.
# The study's Slurm test starts a real one-node Slurm (slurmctld, slurmd, munge).
PACKAGES_TEST := $(PACKAGES_BUILD) libgtest-dev libbenchmark-dev gnuplot-nox python3-vtk9 \
                 slurmctld slurmd slurm-client munge
PACKAGES_PLOT := gnuplot-nox
PACKAGES_BENCH := $(PACKAGES_BUILD) libbenchmark-dev
# The Windows zip is cross-compiled; its tests run it under Wine against
# the Linux build (python3 compares the outputs).
PACKAGES_WINDOWS := cmake g++-mingw-w64-x86-64-posix
PACKAGES_WINE := $(PACKAGES_WINDOWS) $(PACKAGES_BUILD) wine wine64 python3
EXTRA_PACKAGES ?=

.PHONY: all run test test-release test-sanitize compare-builds compare-threads bench plot clean \
        deps-build deps-test deps-plot deps-bench windows test-windows deps-windows deps-wine

deps-build:
	@.ci/instala $(PACKAGES_BUILD)
deps-test:
	@.ci/instala $(PACKAGES_TEST) $(EXTRA_PACKAGES)
deps-plot:
	@.ci/instala $(PACKAGES_PLOT)
deps-bench:
	@.ci/instala $(PACKAGES_BENCH)
deps-windows:
	@.ci/instala $(PACKAGES_WINDOWS)
deps-wine:
	@.ci/instala $(PACKAGES_WINE)

# The program alone: no test framework needed.
all: deps-build
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DTUBRIX_TESTS=OFF
	cmake --build $(RELEASE) -j$(JOBS) --target tubrix

run: all
	rm -rf run && mkdir -p run && cp $(EXAMPLE)/* run/
	cd run && TUBRIX_TEMPLATES=$(CURDIR)/templates ../$(RELEASE)/tubrix | tee ../$(RELEASE)/run.log
	@echo "Listagem: $(CURDIR)/run/$$(sed -n 's/.*listagem: \([^ ]*\).*/\1/p' $(RELEASE)/run.log)"

test: test-release test-sanitize compare-builds compare-threads

test-release: deps-test
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DTUBRIX_TESTS=ON -DTUBRIX_BENCH=ON
	cmake --build $(RELEASE) -j$(JOBS)
	cd $(RELEASE) && ctest --output-on-failure -j$(JOBS)

test-sanitize: deps-test
	cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=Debug -DTUBRIX_SANITIZE=ON
	cmake --build $(SANITIZE) -j$(JOBS)
	cd $(SANITIZE) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j$(JOBS)

# The optimised and the debug build must write the same numbers, in both
# schemes (the second-order one on the bell).
compare-builds:
	tests/compare_builds.sh $(RELEASE)/tubrix $(SANITIZE)/tubrix $(EXAMPLE)
	tests/compare_builds.sh $(RELEASE)/tubrix $(SANITIZE)/tubrix examples/sino 200 esquema="'ordem2'"

# One thread and every core must write the same numbers: the example (too
# small for threads) and grids where the team runs, planar and axisymmetric.
# Every run probes each mode of the team in its first iterations; the bell
# in the second-order scheme too.
compare-threads:
	THREADS_A=1 tests/compare_builds.sh $(RELEASE)/tubrix $(RELEASE)/tubrix $(EXAMPLE)
	THREADS_A=1 tests/compare_builds.sh $(RELEASE)/tubrix $(RELEASE)/tubrix $(EXAMPLE) 300 2=0 3=120 4=60 10=3.0e-6
	THREADS_A=1 tests/compare_builds.sh $(RELEASE)/tubrix $(RELEASE)/tubrix $(EXAMPLE) 60 2=1 3=160 4=80 10=2.0e-6
	THREADS_A=1 tests/compare_builds.sh $(RELEASE)/tubrix $(SANITIZE)/tubrix $(EXAMPLE) 40 2=0 3=120 4=60 10=2.0e-6
	THREADS_A=1 tests/compare_builds.sh $(RELEASE)/tubrix $(RELEASE)/tubrix examples/sino 60 nx=160 ny=80 esquema="'ordem2'"

# Rewrites the stored digests of tests/regressao from the optimised build,
# when a change of output is meant: its closing note must say why.
.PHONY: regressao-atualiza
regressao-atualiza: all
	@.ci/instala python3
	tests/regressao/regressao.py update $(RELEASE)/tubrix

bench: deps-bench
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DTUBRIX_BENCH=ON
	cmake --build $(RELEASE) -j$(JOBS)
	for b in $(RELEASE)/bench_*; do $$b; done

# Every plot of the example run as a picture beside its script (after
# `make run`), drawn as a run without a display draws them: caso.<name>.png.
# The profile and grid scripts build their plot with successive replots; only
# the last, whole one is drawn to the picture. The field map draws once.
# Where the locale's characters lack the degree sign (the C locale of a
# minimal system) gnuplot warns on every template: it draws with C.UTF-8's,
# as the program's own plots do.
plot: deps-plot
	@if [ ! -f run/Tubrix_5p5_Mach.gnu ] || ! ls run/*.Mach.dat >/dev/null 2>&1; then \
	  echo "Nada para desenhar em run/: rode antes 'make run' (depois, 'make plot')." >&2; exit 1; fi
	@caso=$$(sed -n 's/.*listagem: \([^ ]*\)\.txt.*/\1/p' $(RELEASE)/run.log); \
	[ "$$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8; \
	cd run && for s in Tubrix_5p5_*.gnu; do \
	  n=$${s#Tubrix_5p5_}; png="$$caso.$${n%.gnu}.png"; \
	  if [ "$$s" = Tubrix_5p5_campo.gnu ]; then \
	    gnuplot -e "set terminal pngcairo size 900,1000; set output '$$png'" $$s || exit 1; \
	  else \
	    gnuplot -e "set terminal dumb; set output '/dev/null'" $$s \
	      -e "set terminal pngcairo size 900,560; set output '$$png'; replot" || exit 1; \
	  fi; echo "run/$$png"; done

# tubrix-<version>-win64.zip: the three programs for 64-bit Windows,
# statically linked, with the templates, the example and LEIA-ME.txt.
windows: deps-windows
	cmake -S . -B $(WINDOWS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DTUBRIX_TESTS=OFF
	cmake --build $(WINDOWS) -j$(JOBS) --target zip-windows

# The zip's programs under Wine against the Linux build's (tests/windows).
test-windows: deps-wine windows
	[ -f $(RELEASE)/CMakeCache.txt ] || cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE) -j$(JOBS) --target tubrix tubrix-estudo tubrix-extrapola
	tests/windows/wine.sh $(RELEASE)

clean:
	rm -rf $(RELEASE) $(SANITIZE) $(WINDOWS) run tubrix-*-win64.zip
