# Entry points for users and CI. `make run` runs the example case in ./run,
# `make test` builds and runs every test (an optimised build, then a debug
# build with AddressSanitizer and UndefinedBehaviorSanitizer).
JOBS ?= 2
# pipefail: a failed run is not hidden by the tee of its console lines
SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -c
EXAMPLE ?= examples/bocal
RELEASE := build
SANITIZE := build-asan

.PHONY: all run test test-release test-sanitize compare-builds compare-threads bench plot clean

all:
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE) -j$(JOBS) --target tubrix

run: all
	rm -rf run && mkdir -p run && cp $(EXAMPLE)/* run/
	cd run && TUBRIX_TEMPLATES=$(CURDIR)/templates ../$(RELEASE)/tubrix | tee ../$(RELEASE)/run.log
	@echo "Listagem: $(CURDIR)/run/$$(sed -n 's/.*listagem: //p' $(RELEASE)/run.log)"

test: test-release test-sanitize compare-builds compare-threads

test-release:
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DTUBRIX_BENCH=ON
	cmake --build $(RELEASE) -j$(JOBS)
	cd $(RELEASE) && ctest --output-on-failure -j$(JOBS)

test-sanitize:
	cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=Debug -DTUBRIX_SANITIZE=ON
	cmake --build $(SANITIZE) -j$(JOBS)
	cd $(SANITIZE) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j$(JOBS)

# The optimised and the debug build must write the same numbers.
compare-builds:
	tests/compare_builds.sh $(RELEASE)/tubrix $(SANITIZE)/tubrix $(EXAMPLE)

# One thread and every core must write the same numbers: the example (too
# small for threads) and grids where the team runs, planar and axisymmetric.
# Every run probes each mode of the team in its first iterations.
compare-threads:
	THREADS_A=1 tests/compare_builds.sh $(RELEASE)/tubrix $(RELEASE)/tubrix $(EXAMPLE)
	THREADS_A=1 tests/compare_builds.sh $(RELEASE)/tubrix $(RELEASE)/tubrix $(EXAMPLE) 300 2=0 3=120 4=60 10=3.0e-6
	THREADS_A=1 tests/compare_builds.sh $(RELEASE)/tubrix $(RELEASE)/tubrix $(EXAMPLE) 60 2=1 3=160 4=80 10=2.0e-6
	THREADS_A=1 tests/compare_builds.sh $(RELEASE)/tubrix $(SANITIZE)/tubrix $(EXAMPLE) 40 2=0 3=120 4=60 10=2.0e-6

bench:
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=Release -DTUBRIX_BENCH=ON
	cmake --build $(RELEASE) -j$(JOBS)
	for b in $(RELEASE)/bench_*; do $$b; done

# Mach profile of the example case as a PNG (after `make run`).
# The scripts build the plot with successive replots; only the last, whole
# one is drawn to the image.
plot:
	cd run && gnuplot -e "set terminal dumb; set output '/dev/null'" Tubrix_5p5_Mach.gnu \
	  -e "set terminal pngcairo size 900,560; set output 'Mach.png'; replot"
	@echo "run/Mach.png"

clean:
	rm -rf $(RELEASE) $(SANITIZE) run
