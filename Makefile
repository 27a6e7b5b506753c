# The project's interface: make deps | build | run | test | bench | install | package | printer
SHELL := /bin/bash
BUILD      ?= build
TEST_BUILD ?= build-asan
PREFIX     ?= /usr/local
PKG_BUILD  ?= build-package
JOBS       ?= $(shell nproc)

# Debian packages the build, the tests and the benchmarks need (tio: the per-byte benchmark's
# reference; bash-completion: the test of kalvosan-cli's completion loads it).
PACKAGES := cmake ninja-build g++ qt6-base-dev libgtest-dev libgmock-dev libbenchmark-dev \
            fonts-dejavu-core xvfb xauth poppler-utils cups cups-bsd printer-driver-cups-pdf \
            dpkg-dev lintian desktop-file-utils appstream scdoc librsvg2-bin tio \
            bash-completion

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps build run test bench install package printer clean

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
	rm -rf $(BUILD) $(TEST_BUILD) build-bench $(PKG_BUILD)
