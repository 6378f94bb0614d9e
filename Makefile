# make run   - install what is missing, build, start velkaro-sim
# make test  - install what is missing, build, run the whole test suite
BUILD   ?= build
JOBS    ?= $(shell nproc)
PACKAGES = cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev fonts-liberation2 \
           g++-mingw-w64-x86-64

.PHONY: setup configure build run test

setup:
	@tools/install-packages $(PACKAGES)

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/velkaro-sim

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)
