# The project's interface: make deps | build | run | test | bench | fuzz | install | package | printer
SHELL := /bin/bash
BUILD      ?= build
TEST_BUILD ?= build-asan
PREFIX     ?= /usr/local
PKG_BUILD  ?= build-package
FUZZ_BUILD ?= build-fuzz
# How long each fuzz target runs in make fuzz.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := telnet lock_file arrival_times hex_listing
JOBS       ?= $(shell nproc)

# Debian packages the build, the tests and the benchmarks need (tio: the per-byte benchmark's
# reference, and with picocom the terminal benchmark's; bash-completion: the test of
# kalvosan-cli's completion loads it; ser2net: the serial server of the network port's tests and
# benchmarks, socat and python3-serial its references there; clang with its runtime: the fuzzers;
# xxd and bsdextrautils' hexdump: the hex listing's references).
PACKAGES := cmake ninja-build g++ qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev \
            fonts-dejavu-core xvfb xauth poppler-utils cups cups-bsd printer-driver-cups-pdf \
            dpkg-dev lintian desktop-file-utils appstream scdoc librsvg2-bin tio \
            bash-completion ser2net socat python3-serial clang libclang-rt-14-dev picocom \
            xxd bsdextrautils

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps build run test bench fuzz install package printer clean

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVOSAN_TESTS=OFF -DKALVOSAN_BENCH=OFF
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/bin/kalvosan

test: deps
	cmake -S . -B $(TEST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKALVOSAN_SANITIZE=ON -DKALVOSAN_BENCH=OFF
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2 --timeout 300

bench: deps
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKALVOSAN_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	cd build-bench && for b in bin/bench_*; do echo "== $$b"; QT_QPA_PLATFORM=offscreen ./$$b || exit 1; done

# Each fuzz target for FUZZ_SECONDS (clang's libFuzzer, ASan + UBSan). What it finds new goes to
# $(FUZZ_BUILD)/found/<target>; the inputs among them that reach code the kept corpus does not
# are merged into tests/fuzz/corpus/<target>, which make test replays. A crash stops here, its
# input in $(FUZZ_BUILD)/crash-<target>-*.
fuzz: deps
	cmake -S tests/fuzz -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@for t in $(FUZZ_TARGETS); do \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; mkdir -p $(FUZZ_BUILD)/found/$$t; \
	  ./$(FUZZ_BUILD)/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -max_len=65536 -rss_limit_mb=2048 \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/crash-$$t- \
	    $(FUZZ_BUILD)/found/$$t tests/fuzz/corpus/$$t 2>$(FUZZ_BUILD)/fuzz_$$t.log \
	    || { tail -40 $(FUZZ_BUILD)/fuzz_$$t.log; exit 1; }; \
	  grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^#[0-9]+.*DONE' $(FUZZ_BUILD)/fuzz_$$t.log; \
	  ./$(FUZZ_BUILD)/fuzz_$$t -merge=1 tests/fuzz/corpus/$$t $(FUZZ_BUILD)/found/$$t 2>/dev/null; \
	done
	@du -sh tests/fuzz/corpus

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian packages kalvosan-cli and kalvosan (<name>_<version>_<arch>.deb) in $(PKG_BUILD),
# from a stripped Release build.
package: deps
	packaging/build-deb.sh $(PKG_BUILD) $(JOBS)

# A CUPS scheduler with a PDF printer named "PDF", for the end-to-end print test. cups-pdf
# writes each job to ~/PDF of the user who printed it (/root/PDF for root). Its PostScript is
# made by pdftocairo, so that the text of a printed plain-text file stays extractable.
printer: deps
	@lpstat -r 2>/dev/null | grep -q 'is running' || $(SUDO) cupsd || true
	@for i in $$(seq 50); do lpstat -r 2>/dev/null | grep -q 'is running' && break; sleep 0.2; done
	@lpstat -p PDF >/dev/null 2>&1 || $(SUDO) lpadmin -p PDF -E -v cups-pdf:/ -m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd 2>/dev/null || true
	@$(SUDO) lpadmin -p PDF -o pdftops-renderer-default=pdftocairo 2>/dev/null || true
	@lpstat -r; lpstat -p PDF || true

clean:
	rm -rf $(BUILD) $(TEST_BUILD) build-bench $(PKG_BUILD) $(FUZZ_BUILD)
