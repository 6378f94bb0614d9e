# make run   - install what is missing, build, start velkaro-sim
# make test  - install what is missing, build, run the whole test suite
BUILD   ?= build
JOBS    ?= $(shell nproc)
PACKAGES = cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev fonts-liberation2
# what the tests need besides: the Windows cross compiler, and QEMU with a kernel for the port test
TEST_PACKAGES = g++-mingw-w64-x86-64 qemu-system-x86 linux-image-amd64 busybox-static

.PHONY: setup setup-test configure build run test

setup:
	@tools/install-packages $(PACKAGES)

setup-test: setup
	@tools/install-packages $(TEST_PACKAGES)

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/velkaro-sim

test: setup-test build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# make bench  - build, then measure the sampling cycle (a few minutes)
.PHONY: bench
bench: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/velkaro-bench

# make hwtest - the port provider on a real kernel with QEMU's emulated parallel port
.PHONY: hwtest
hwtest: setup-test configure
	@cmake --build $(BUILD) -j $(JOBS) --target port_hwtest_guest
	cd $(BUILD) && ctest -R '^hwtest_' --output-on-failure
